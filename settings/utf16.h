// UTF-16LE bytes to UTF-8, as the ANSI registry calls give wide text on a UTF-8 system.
#pragma once

#include <string>
#include <string_view>

namespace oa::settings {

// Converts little-endian UTF-16 bytes. An odd last byte is dropped; a lone surrogate becomes
// U+FFFD, as the system's conversion does.
std::string Utf16leToUtf8(std::string_view bytes);

}  // namespace oa::settings
