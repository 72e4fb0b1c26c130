// Bytes as hexadecimal text, two digits a byte: how entry IDs travel between the program, the
// store and the services.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oa {

// Upper-case digits.
std::string HexEncode(const std::vector<uint8_t>& bytes);
// Digits in either case; nullopt for an odd length or any other character.
std::optional<std::vector<uint8_t>> HexDecode(const std::string& hex);

}  // namespace oa
