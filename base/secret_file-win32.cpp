// Who may read a file on Windows is up to its access list (DACL): an owner-only file is one whose
// list lets in no one but its owner, you, SYSTEM and the Administrators (base/file_readers-win32).
// The file is judged by the handle it is read through, as on POSIX by fstat.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/file_readers-win32.h"
#include "base/platform.h"
#include "base/process_guard.h"
#include "base/secret_file.h"
#include "base/secret_file_read.h"

namespace oa {
namespace {

struct HandleCloser {
  void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;
struct LocalFreer {
  void operator()(void* p) const { ::LocalFree(p); }
};

// Empty when only the owner, you, SYSTEM and the Administrators may read the opened file;
// else the refusal "PATH: reason".
std::string RefusalFor(HANDLE file, const std::string& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD status = ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, nullptr, nullptr, &sd);
  if (status != ERROR_SUCCESS)
    return path + ": its permissions cannot be read (error " + std::to_string(status) + ")";
  std::unique_ptr<void, LocalFreer> held(sd);
  return OwnerOnlyRefusal(path, ReadersOf(sd));
}

// The opened file, checked by `rule`; an empty handle with *error set when it is refused.
Handle OpenChecked(const std::string& path, SecretFileRule rule, std::string* error) {
  const std::filesystem::path file = PathFromUtf8(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    *error = path + (std::filesystem::exists(file, ec) ? ": is no regular file"
                                                       : ": cannot be read: no such file");
    return nullptr;
  }
  const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ | READ_CONTROL,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = path + ": cannot be read";
    return nullptr;
  }
  Handle handle(h);
  // A pipe or a device where the file was a moment ago.
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    *error = path + ": is no regular file";
    return nullptr;
  }
  if (rule == SecretFileRule::OwnerOnly) {
    if (std::string refusal = RefusalFor(h, path); !refusal.empty()) {
      *error = std::move(refusal);
      return nullptr;
    }
  }
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(h, &size) && size.QuadPart > static_cast<LONGLONG>(kMaxSecretFileBytes)) {
    *error = SecretFileTooLarge(path);
    return nullptr;
  }
  return handle;
}

}  // namespace

bool CheckSecretFile(const std::string& path, SecretFileRule rule, std::string* error) {
  return OpenChecked(path, rule, error) != nullptr;
}

std::optional<std::string> ReadSecretFile(const std::string& path, SecretFileRule rule,
                                          std::string* error) {
  Handle file = OpenChecked(path, rule, error);
  if (!file) return std::nullopt;
  if (rule == SecretFileRule::OwnerOnly) ProtectSecretsFromDumps();
  return ReadWholeSecretFile(
      path,
      [&](char* buf, size_t size, std::string* err) -> std::optional<size_t> {
        DWORD n = 0;
        if (!::ReadFile(file.get(), buf, static_cast<DWORD>(size), &n, nullptr)) {
          *err = path + ": cannot be read";
          return std::nullopt;
        }
        return n;
      },
      error);
}

}  // namespace oa
