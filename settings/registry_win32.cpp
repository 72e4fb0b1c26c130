// The registry calls on Windows: advapi32's wide forms, with UTF-8 names and texts on our side
// (the ANSI forms would lose every character outside the ANSI code page). The sibling tool and
// the agent are 32-bit programs, so their keys under HKEY_LOCAL_MACHINE\Software live in the
// 32-bit view: a 64-bit build reads that view, as the 32-bit original did.
#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "settings/registry_api.h"
#include "settings/utf16.h"

namespace oa::settings {

namespace {

std::wstring Wide(const char* utf8) {
  if (utf8 == nullptr || *utf8 == '\0') return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

::HKEY Handle(HKEY key) {
  return reinterpret_cast<::HKEY>(key);
}

bool IsText(DWORD type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

}  // namespace

LONG RegOpenKeyA(HKEY key, const char* subKey, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (subKey == nullptr || *subKey == '\0') {
    *result = key;
    return ERROR_SUCCESS;
  }
  ::HKEY opened = nullptr;
  const LONG rc =
      ::RegOpenKeyExW(Handle(key), Wide(subKey).c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &opened);
  if (rc == ERROR_SUCCESS) *result = reinterpret_cast<HKEY>(opened);
  return rc;
}

// Texts are read whole in UTF-16 and handed on in UTF-8, their size counted in UTF-8 bytes (a
// stored terminating NUL stays one NUL); other types pass through as stored.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                      DWORD* cbData) {
  if (data != nullptr && cbData == nullptr) return ERROR_INVALID_PARAMETER;
  const std::wstring name = Wide(valueName);
  ::DWORD kind = 0;
  ::DWORD size = 0;
  LONG rc = ::RegQueryValueExW(Handle(key), name.c_str(), nullptr, &kind, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (type) *type = kind;
  if (cbData == nullptr) return ERROR_SUCCESS;
  if (!IsText(kind)) {
    if (data == nullptr) {
      *cbData = size;
      return ERROR_SUCCESS;
    }
    ::DWORD room = *cbData;
    rc = ::RegQueryValueExW(Handle(key), name.c_str(), nullptr, nullptr, data, &room);
    *cbData = room;
    return rc;
  }
  std::string bytes(size, '\0');
  // The value may grow between the two calls: ask again with the size it has then.
  while ((rc = ::RegQueryValueExW(Handle(key), name.c_str(), nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(bytes.data()), &size)) == ERROR_MORE_DATA)
    bytes.assign(size, '\0');
  if (rc != ERROR_SUCCESS) return rc;
  const std::string text = Utf16leToUtf8(std::string_view(bytes.data(), size));
  const DWORD room = *cbData;
  *cbData = static_cast<DWORD>(text.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (room < text.size()) return ERROR_MORE_DATA;
  if (!text.empty()) std::memcpy(data, text.data(), text.size());
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  // A root handed out by RegConnectRegistryFiles is the predefined key itself.
  if (key == kHKeyCurrentUser || key == kHKeyLocalMachine) return ERROR_SUCCESS;
  return ::RegCloseKey(Handle(key));
}

LONG RegConnectRegistryFiles(const RegistryFiles& /*files*/, HKEY key, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = key;
  return ERROR_SUCCESS;
}

}  // namespace oa::settings
