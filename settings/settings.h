// Default server and mailbox from the registry.
#pragma once

#include <string>

#include "base/variant.h"

namespace oa::settings {

// The registry export files read instead of the two roots on systems without a registry
// (registry_files.h), from the configuration; Windows reads its registry and leaves them unused.
struct RegistryFiles {
  std::string user;     // HKEY_CURRENT_USER
  std::string machine;  // HKEY_LOCAL_MACHINE
};

// The two keys read, under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
inline constexpr const char* kAdminKeyPath = "Software\\ondavel\\Tessel Admin\\Settings";
inline constexpr const char* kAgentKeyPath = "Software\\ondavel\\ondavelAgent";

// The sibling administration tool's settings (current user); `def` when nothing usable is found.
oa::Variant GetAdminSetting(const RegistryFiles& files, const std::string& valueName,
                            const oa::Variant& def);
// The agent's settings (local machine); `def` when nothing usable is found.
oa::Variant GetAgentSetting(const RegistryFiles& files, const std::string& valueName,
                            const oa::Variant& def);

}  // namespace oa::settings
