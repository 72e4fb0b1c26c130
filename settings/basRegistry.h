// basRegistry: reading one registry value into a variant.
#pragma once

#include <string>

#include "base/variant.h"
#include "settings/registry_api.h"

namespace oa::settings {

// The value `ValueName` of the key `KeyPath` under `RootKey`, one terminating NUL removed from
// a text. Empty when the key or the value does not exist; an empty text on any other failure.
oa::Variant GetRegValue(const HKEY& RootKey, const std::string& KeyPath,
                        const std::string& ValueName);

// Reads a value of an open key into `Value`: text for types 1 and 2 (a stored NUL kept,
// nothing expanded), "01 AB" for binary up to 255 bytes, a signed number for a DWORD. Returns
// 0, the registry's error code, or -1 for another type (`Value` then left as it was).
LONG QueryRegValue(HKEY Key, std::string ValueName, oa::Variant& Value);

}  // namespace oa::settings
