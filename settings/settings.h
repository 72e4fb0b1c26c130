// Default server and mailbox from the registry.
#pragma once

#include <string>

#include "base/variant.h"

namespace oa::settings {

// The two keys read, under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
inline constexpr const char* kAdminKeyPath = "Software\\ondavel\\Tessel Admin\\Settings";
inline constexpr const char* kAgentKeyPath = "Software\\ondavel\\ondavelAgent";

// The sibling administration tool's settings (current user); `def` when nothing usable is found.
oa::Variant GetAdminSetting(const std::string& valueName, const oa::Variant& def);
// The agent's settings (local machine); `def` when nothing usable is found.
oa::Variant GetAgentSetting(const std::string& valueName, const oa::Variant& def);

}  // namespace oa::settings
