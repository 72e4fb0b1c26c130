// The three registry calls the settings lookup rests on, with advapi32's signatures and error
// codes. On Windows they are the system's own; elsewhere they read registry export files
// (registry_files.h). Handles are pointer-sized, the predefined roots sign-extended as Windows
// defines them.
#pragma once

#include <cstdint>

#include "settings/settings.h"

namespace oa::settings {

using HKEY = std::intptr_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;

inline constexpr HKEY kHKeyCurrentUser = static_cast<std::int32_t>(0x80000001u);
inline constexpr HKEY kHKeyLocalMachine = static_cast<std::int32_t>(0x80000002u);

inline constexpr LONG kErrorSuccess = 0;
inline constexpr LONG kErrorFileNotFound = 2;
inline constexpr LONG kErrorInvalidHandle = 6;
inline constexpr LONG kErrorInvalidParameter = 87;
inline constexpr LONG kErrorMoreData = 234;

inline constexpr DWORD kRegSz = 1;
inline constexpr DWORD kRegExpandSz = 2;
inline constexpr DWORD kRegBinary = 3;
inline constexpr DWORD kRegDword = 4;
inline constexpr DWORD kRegMultiSz = 7;
inline constexpr DWORD kRegQword = 11;

// Opens `subKey` below `key`; an empty or null `subKey` opens `key` again. On failure
// `*result` is left as it was.
LONG RegOpenKeyA(HKEY key, const char* subKey, HKEY* result);
// Type and data of a value (null or empty name: the key's default value). With `data` null
// only `*type` and `*cbData` are set; with a buffer smaller than the data ERROR_MORE_DATA.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData);
LONG RegCloseKey(HKEY key);

// Opens the predefined root `key` as the program's settings name it, as RegConnectRegistryA
// opens another computer's: elsewhere than on Windows, over the export file `files` names for
// it, read anew at each open below the handle; on Windows, the system's own root (`files`
// unused). Closed with RegCloseKey. The predefined roots themselves stand elsewhere for the
// files at the places the environment gives (OA_REGISTRY_USER, OA_REGISTRY_MACHINE, defaults).
LONG RegConnectRegistryFiles(const RegistryFiles& files, HKEY key, HKEY* result);

}  // namespace oa::settings
