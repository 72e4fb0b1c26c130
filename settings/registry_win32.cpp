// The registry calls on Windows: advapi32's own. The agent writes its settings as a 32-bit
// program, so a 64-bit build reads the 32-bit view as the original tool did.
#include <windows.h>

#include "settings/registry_api.h"

namespace oa::settings {

LONG RegOpenKeyA(HKEY key, const char* subKey, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (subKey == nullptr || *subKey == '\0') {
    *result = key;
    return ERROR_SUCCESS;
  }
  ::HKEY opened = nullptr;
  const LONG rc = ::RegOpenKeyExA(reinterpret_cast<::HKEY>(key), subKey, 0,
                                  KEY_READ | KEY_WOW64_32KEY, &opened);
  if (rc == ERROR_SUCCESS) *result = reinterpret_cast<HKEY>(opened);
  return rc;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData) {
  return ::RegQueryValueExA(reinterpret_cast<::HKEY>(key), valueName,
                            reinterpret_cast<LPDWORD>(reserved), reinterpret_cast<LPDWORD>(type),
                            data, reinterpret_cast<LPDWORD>(cbData));
}

LONG RegCloseKey(HKEY key) {
  return ::RegCloseKey(reinterpret_cast<::HKEY>(key));
}

}  // namespace oa::settings
