#include "settings/settings.h"

#include "settings/basRegistry.h"

namespace oa::settings {

namespace {

// An empty variant counts as the empty text; a number never does.
bool IsEmptyText(const oa::Variant& v) {
  return v.IsEmpty() || (v.type() == oa::Variant::Type::String && v.AsString().empty());
}

oa::Variant ReadSetting(const RegistryFiles& files, HKEY root, const std::string& keyPath,
                        const std::string& valueName, const oa::Variant& def) {
  try {
    HKEY connected = 0;
    if (RegConnectRegistryFiles(files, root, &connected) != kErrorSuccess) return def;
    oa::Variant value = GetRegValue(connected, keyPath, valueName);
    RegCloseKey(connected);
    return IsEmptyText(value) ? def : value;
  } catch (...) {
    return def;
  }
}

}  // namespace

oa::Variant GetAdminSetting(const RegistryFiles& files, const std::string& valueName,
                            const oa::Variant& def) {
  return ReadSetting(files, kHKeyCurrentUser, kAdminKeyPath, valueName, def);
}

oa::Variant GetAgentSetting(const RegistryFiles& files, const std::string& valueName,
                            const oa::Variant& def) {
  return ReadSetting(files, kHKeyLocalMachine, kAgentKeyPath, valueName, def);
}

}  // namespace oa::settings
