// The texts Graph uses for binary values, IDs and times, and extended properties as Graph names
// them ("String {GUID} Name HHEntryID", "String 0x001A").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/hex.h"
#include "base/variant.h"

namespace oa::graph {

// Entry IDs in translateExchangeIds: URL-safe base64 without padding, followed by the number of
// padding characters left out (0, 1 or 2).
std::string UrlTokenEncode(const std::vector<uint8_t>& bytes);
// Takes that form, and plain or URL-safe base64 with or without padding (binary extended
// properties); nullopt for anything else.
std::optional<std::vector<uint8_t>> Base64Decode(const std::string& text, bool urlToken = false);
std::string Base64Encode(const std::vector<uint8_t>& bytes);

using oa::HexDecode;
using oa::HexEncode;

// "2026-03-01T09:00:00Z", with fractions or an offset.
std::optional<oa::Date> ParseDateTime(const std::string& text);

// The identity platform's refusal ("AADSTS70011: What. Why.\r\nTrace ID: ...\r\nCorrelation
// ID: ...\r\nTimestamp: ...") as one line: the code with its first sentence and the correlation
// ID, which support asks for. Any other text is given back as it is.
std::string OneLineSignInRefusal(const std::string& description);

// Named properties get IDs from 0x8000 on, per property set and name, the same for every session
// of the process (Graph has no IDs of its own for them).
int32_t NamedPropId(const std::string& guid, const std::string& name);
// The extended property's Graph ID for a tag; empty when its type or name is unknown.
std::string ExtendedPropertyId(int32_t tag);
// A value as Graph's text for the tag's type, and back.
std::optional<std::string> ValueText(const oa::Variant& value, int32_t tag);
oa::Variant ValueFromText(const std::string& text, int32_t tag);
// Every named property given out so far, as string tags.
std::vector<int32_t> NamedStringTags();

}  // namespace oa::graph
