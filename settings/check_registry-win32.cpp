// --check-registry on Windows: each of the two keys in the view the program reads, and for each
// value its type and what the boxes get from it, through the same calls as the window's load.
#include <string>

#include "settings/basRegistry.h"
#include "settings/check_registry.h"
#include "settings/settings.h"

namespace oa::settings {

namespace {

std::string TypeName(DWORD type) {
  switch (type) {
    case kRegSz:
      return "REG_SZ";
    case kRegExpandSz:
      return "REG_EXPAND_SZ";
    case kRegBinary:
      return "REG_BINARY";
    case kRegDword:
      return "REG_DWORD";
    case kRegMultiSz:
      return "REG_MULTI_SZ";
    case kRegQword:
      return "REG_QWORD";
    default:
      return "type " + std::to_string(type);
  }
}

// One value's line; false when it is there but gives the box nothing.
bool CheckValue(std::ostream& out, HKEY key, HKEY root, const char* path, const char* name) {
  out << "  " << name << ": ";
  DWORD type = 0;
  DWORD size = 0;
  const LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (rc == kErrorFileNotFound) {
    out << "not set\n";
    return true;
  }
  if (rc != kErrorSuccess) {
    out << "cannot be read (error " << rc << ")\n";
    return false;
  }
  out << TypeName(type);
  if (type == kRegBinary) out << " of " << size << " bytes";
  if (type != kRegSz && type != kRegExpandSz && type != kRegBinary && type != kRegDword) {
    out << ", not read: only REG_SZ, REG_EXPAND_SZ, REG_BINARY and REG_DWORD are\n";
    return false;
  }
  if (type == kRegBinary && size > 255) {
    out << ", not read: longer than 255 bytes\n";
    return false;
  }
  const oa::Variant value = GetRegValue(root, path, name);
  out << ", read as \"" << value.ToText() << "\"";
  if (value.ToText().empty()) out << " (empty: counts as not set)";
  out << "\n";
  return true;
}

bool CheckKey(std::ostream& out, const char* title, HKEY root, const char* rootName,
              const char* path) {
  out << title << " " << rootName << "\\" << path << " (32-bit view): ";
  HKEY key = 0;
  const LONG rc = RegOpenKeyA(root, path, &key);
  if (rc == kErrorFileNotFound) {
    out << "missing (no settings)\n";
    return true;
  }
  if (rc != kErrorSuccess) {
    out << "cannot be opened (error " << rc << ", no settings)\n";
    return false;
  }
  out << "found\n";
  bool ok = true;
  for (const char* name : {"ExServer", "ExAlias"}) ok &= CheckValue(out, key, root, path, name);
  RegCloseKey(key);
  return ok;
}

}  // namespace

// Windows has its registry: no export files are read.
int CheckRegistry(std::ostream& out, const RegistryFiles& /*files*/) {
  const bool user = CheckKey(out, "User", kHKeyCurrentUser, "HKEY_CURRENT_USER", kAdminKeyPath);
  const bool machine =
      CheckKey(out, "Machine", kHKeyLocalMachine, "HKEY_LOCAL_MACHINE", kAgentKeyPath);
  return user && machine ? 0 : 1;
}

}  // namespace oa::settings
