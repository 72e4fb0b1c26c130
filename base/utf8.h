// Reading UTF-8 as it is written, strictly: the one decoder of the list file's check and the
// terminal's escaping.
#pragma once

#include <cstddef>
#include <string_view>

namespace oa {

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at byte `i` of `text`, with
// its code point in *code; 0 when none starts there (a stray continuation byte, an overlong
// form, a surrogate, a code point past U+10FFFF, or a sequence cut off by the end).
size_t Utf8SequenceAt(std::string_view text, size_t i, char32_t* code);

// True when all of `text` is well-formed UTF-8.
bool ValidUtf8(std::string_view text);

}  // namespace oa
