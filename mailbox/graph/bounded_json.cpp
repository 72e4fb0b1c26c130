#include "mailbox/graph/bounded_json.h"

namespace oa::graph {

bool JsonWithinDepth(std::string_view text) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

nlohmann::json ParseBoundedJson(std::string_view text, std::string* error) {
  if (!JsonWithinDepth(text)) {
    if (error)
      *error = "the answer is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
  return nlohmann::json::parse(text, nullptr, false);
}

}  // namespace oa::graph
