// Property functions on top of the mailbox object model: named-property tags, finding messages
// by class and subject through a contents table, and converting table values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/variant.h"
#include "mailbox/model/rdo.h"

namespace oa::mailbox {

// The tag of a named property: its ID from the object's store OR'ed with propType. An empty
// property set means PS_PUBLIC_STRINGS. Without an ID the result is propType alone.
int32_t GetNamedPropTag(mailbox::MAPIProp* obj, const oa::Variant& propName, int32_t propType,
                        const std::string& propSetGUID);

// Entry-ID texts of the folder's messages whose class and subject match, both compared without
// regard to case, in table order. Empty when the folder is missing or both criteria are empty.
std::vector<std::string> FindMessageIDs(const std::shared_ptr<mailbox::RDOFolder>& folder,
                                        const std::string& messageClass,
                                        const std::string& subject);

// A table value converted to what the tag's type calls for.
oa::Variant ConvertPropValue(const oa::Variant& value, int32_t propTag);

// The tag's low 16 bits.
int32_t GetPropType(int32_t propTag);

// Upper-case hex, two digits a byte, of an array value; empty for anything else.
std::string BinaryToHex(const oa::Variant& value);

}  // namespace oa::mailbox
