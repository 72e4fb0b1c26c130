#include "tests/graph/graph_endpoint_text.h"

#include "mailbox/graph/client.h"
#include "mailbox/graph/codec.h"

namespace oa::graph::testing {

namespace {

const std::string kIdPrefix = "AAMk";

}  // namespace

std::string RestId(const std::string& hex) {
  auto bytes = HexDecode(hex);
  return bytes && !bytes->empty() ? kIdPrefix + UrlTokenEncode(*bytes) : "";
}

std::optional<std::string> HexOfRestId(const std::string& id) {
  if (id.rfind(kIdPrefix, 0) != 0) return std::nullopt;
  auto bytes = Base64Decode(id.substr(kIdPrefix.size()), true);
  if (!bytes || bytes->empty()) return std::nullopt;
  return HexEncode(*bytes);
}

std::string Param(const GraphCall& c, const std::string& name) {
  auto it = c.params.find(name);
  return it == c.params.end() ? "" : it->second;
}

std::vector<std::string> Literals(const std::string& text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\'') continue;
    std::string lit;
    for (++i; i < text.size(); ++i) {
      if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') {
        lit += '\'';
        ++i;
      } else if (text[i] == '\'') {
        break;
      } else {
        lit += text[i];
      }
    }
    out.push_back(lit);
  }
  return out;
}

}  // namespace oa::graph::testing
