// The one way the Graph backend reads JSON a server sent: nlohmann::json copies and compares
// documents recursively, so a hostile answer nested a hundred thousand levels deep would
// overflow the stack. The depth is checked on the text before anything is parsed.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace oa::graph {

// Graph's answers nest less than a dozen levels ($batch answers included).
constexpr int kMaxJsonDepth = 64;

// Whether the text's arrays and objects nest at most kMaxJsonDepth levels (strings skipped).
bool JsonWithinDepth(std::string_view text);

// The parsed answer; a discarded value for text that is no JSON. When the text nests deeper
// than kMaxJsonDepth, a discarded value with *error set (when error is given) to a text
// naming the limit.
nlohmann::json ParseBoundedJson(std::string_view text, std::string* error = nullptr);

}  // namespace oa::graph
