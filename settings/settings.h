// Default server and mailbox from the registry.
#pragma once

#include <string>

#include "base/variant.h"

namespace oa::settings {

// The sibling administration tool's settings (current user); `def` when nothing usable is found.
mailbox::Variant GetAdminSetting(const std::string& valueName, const mailbox::Variant& def);
// The agent's settings (local machine); `def` when nothing usable is found.
mailbox::Variant GetAgentSetting(const std::string& valueName, const mailbox::Variant& def);

}  // namespace oa::settings
