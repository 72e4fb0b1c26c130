#include "settings/settings.h"

#include "settings/basRegistry.h"

namespace oa::settings {

namespace {

// An empty variant counts as the empty text; a number never does.
bool IsEmptyText(const mailbox::Variant& v) {
  return v.IsEmpty() || (v.type() == mailbox::Variant::Type::String && v.AsString().empty());
}

mailbox::Variant ReadSetting(HKEY root, const std::string& keyPath, const std::string& valueName,
                             const mailbox::Variant& def) {
  try {
    mailbox::Variant value = GetRegValue(root, keyPath, valueName);
    return IsEmptyText(value) ? def : value;
  } catch (...) {
    return def;
  }
}

}  // namespace

mailbox::Variant GetAdminSetting(const std::string& valueName, const mailbox::Variant& def) {
  return ReadSetting(kHKeyCurrentUser, kAdminKeyPath, valueName, def);
}

mailbox::Variant GetAgentSetting(const std::string& valueName, const mailbox::Variant& def) {
  return ReadSetting(kHKeyLocalMachine, kAgentKeyPath, valueName, def);
}

}  // namespace oa::settings
