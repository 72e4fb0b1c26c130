#include "settings/settings.h"

namespace oa::settings {

// Placeholders until the registry layer lands.
mailbox::Variant GetAdminSetting(const std::string&, const mailbox::Variant& def) {
  return def;
}
mailbox::Variant GetAgentSetting(const std::string&, const mailbox::Variant& def) {
  return def;
}

}  // namespace oa::settings
