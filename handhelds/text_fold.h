// Comparing folder and store names the way the path lookup does: blanks trimmed, letter case
// ignored (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters).
#pragma once

#include <string>

namespace oa::handhelds {

// Without leading and trailing blanks (the blank character only).
std::string TrimBlanks(const std::string& text);

// The text lower-cased, as code points.
std::u32string LowerText(const std::string& utf8);

// The byte offset just after the first occurrence of `needle` in `text`, letter case ignored;
// npos when it does not occur.
std::string::size_type FindEndIgnoringCase(const std::string& text, const std::string& needle);

// The byte length of the character that starts at `offset` (1 for a stray byte).
std::string::size_type CharLength(const std::string& text, std::string::size_type offset);

}  // namespace oa::handhelds
