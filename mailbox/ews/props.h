// MAPI property tags as EWS property paths, and property values as EWS texts. Named properties
// get their IDs here (EWS has none): the session hands out 0x8000 and up, per property set and
// name, for the session's lifetime.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/hex.h"
#include "base/variant.h"
#include "mailbox/remote/named_props.h"

namespace oa::ews {

using remote::NamedProp;
using remote::NamedPropMap;
using remote::NormalizeGuid;

// The map every session of the process shares.
NamedPropMap& SharedNamedProps();

// Appends <t:ExtendedFieldURI .../> for a tag; false when the tag's type or name is unknown.
bool AppendPropertyPath(pugi::xml_node parent, int32_t tag, const NamedPropMap& named);

// The tag that a t:ExtendedFieldURI of a response names, or nullopt.
std::optional<int32_t> TagOfPath(pugi::xml_node uri, const NamedPropMap& named);

// Reads the t:ExtendedProperty children of an item or folder element.
std::map<int32_t, oa::Variant> ReadExtendedProperties(pugi::xml_node element,
                                                      const NamedPropMap& named);

// A value as the EWS text for its tag's type; nullopt when it does not fit the type.
std::optional<std::string> ValueText(const oa::Variant& value, int32_t tag);
// Stages a value for Save() in `pending`; false (with the pending error raised) when it does
// not fit the tag's type.
bool StageField(std::map<int32_t, oa::Variant>& pending, int32_t tag, const oa::Variant& value);
// An EWS text as the value for a tag's type.
oa::Variant ValueFromText(const std::string& text, int32_t tag);

std::string Base64Encode(const std::vector<uint8_t>& bytes);
std::optional<std::vector<uint8_t>> Base64Decode(const std::string& text);
using oa::HexDecode;
using oa::HexEncode;

// Exchange's long-term entry IDs of folders (46 bytes) and messages (70 bytes): zero flags, the
// store's provider UID, a 16-bit object type, the folder's global ID and, for a message, the
// message's global ID after it.
enum class ExchangeEntryKind { Other, MailboxFolder, PublicFolder, MailboxMessage, PublicMessage };
ExchangeEntryKind ExchangeEntryKindOf(const std::vector<uint8_t>& entryId);
// The entry ID of the folder that holds a public folder message, from the message's entry ID;
// empty when that is no public folder message's entry ID in Exchange's layout.
std::vector<uint8_t> PublicFolderEntryIdOf(const std::vector<uint8_t>& messageEntryId);

// xs:dateTime ("2026-03-01T09:00:00Z", fractions and offsets accepted) <-> Date.
std::optional<oa::Date> ParseDateTime(const std::string& text);
std::string DateTimeText(oa::Date date);

}  // namespace oa::ews
