#include "mailbox/store/store_location.h"

#include <filesystem>

#include "base/platform.h"

namespace oa::store {
namespace {

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = s[s.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != suffix[i]) return false;
  }
  return true;
}

bool IsFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(PathFromUtf8(path), ec);
}

}  // namespace

StoreLocation LocateStore(const std::string& server, const std::string& directory) {
  if (server.empty()) return {};
  if (server.find('/') != std::string::npos || EndsWithNoCase(server, ".oastore")) {
    return {true, server};
  }
  // Without a store directory a bare name is a mail server's.
  if (directory.empty()) return {false, server + ".oastore"};
  const std::string named = directory + "/" + server + ".oastore";
  return {IsFile(named), named};
}

}  // namespace oa::store
