// Names compared without regard to case, the same way everywhere: folder names in a path or a
// folder list, mailbox aliases and addresses, restriction values.
//
// Case is folded by Unicode's simple case folding (generated from ICU's data, every plane), so
// the result is the same on every platform and in every locale. The Turkic rules are not
// applied: 'I' matches 'i' only; dotted capital 'İ' and dotless 'ı' each match only themselves.
// A malformed UTF-8 byte is kept as it is and matches only the same byte.
#pragma once

#include <string>
#include <string_view>

namespace oa::text {

// The folded form of one code point.
char32_t FoldChar(char32_t code);

// The text with every character folded, as UTF-8; equal results mean the names match.
std::string Fold(std::string_view utf8);

bool EqualIgnoringCase(std::string_view a, std::string_view b);

// Without leading and trailing blanks (the blank character only).
std::string TrimBlanks(const std::string& text);

// The byte offset just after the first occurrence of `needle` in `text`, letter case ignored;
// npos when it does not occur.
std::string::size_type FindEndIgnoringCase(const std::string& text, const std::string& needle);

// The byte length of the character that starts at `offset` (1 for a stray byte, 0 past the
// end).
std::string::size_type CharLength(const std::string& text, std::string::size_type offset);

}  // namespace oa::text
