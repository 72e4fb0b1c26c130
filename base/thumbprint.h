// A certificate's thumbprint as Windows shows it: the SHA-1 of the certificate, 40 hexadecimal
// digits, which certificate dialogs split with spaces and copy with an invisible left-to-right
// mark in front.
#pragma once

#include <optional>
#include <string>

namespace oa {

// The 20 bytes the text names, or nullopt when it is not a thumbprint. Spaces, colons and the
// left-to-right mark (U+200E) are ignored; letters may be of either case.
std::optional<std::string> ParseThumbprint(const std::string& text);

}  // namespace oa
