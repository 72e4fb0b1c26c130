#include "settings/settings.h"

#include "settings/basRegistry.h"

namespace oa::settings {

namespace {

// An empty variant counts as the empty text; a number never does.
bool IsEmptyText(const oa::Variant& v) {
  return v.IsEmpty() || (v.type() == oa::Variant::Type::String && v.AsString().empty());
}

oa::Variant ReadSetting(HKEY root, const std::string& keyPath, const std::string& valueName,
                        const oa::Variant& def) {
  try {
    oa::Variant value = GetRegValue(root, keyPath, valueName);
    return IsEmptyText(value) ? def : value;
  } catch (...) {
    return def;
  }
}

}  // namespace

oa::Variant GetAdminSetting(const std::string& valueName, const oa::Variant& def) {
  return ReadSetting(kHKeyCurrentUser, kAdminKeyPath, valueName, def);
}

oa::Variant GetAgentSetting(const std::string& valueName, const oa::Variant& def) {
  return ReadSetting(kHKeyLocalMachine, kAgentKeyPath, valueName, def);
}

}  // namespace oa::settings
