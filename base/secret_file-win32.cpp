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

namespace oa {
namespace {

struct HandleCloser {
  void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;
struct LocalFreer {
  void operator()(void* p) const { ::LocalFree(p); }
};

std::string TooLarge(const std::string& path) {
  return path + ": is larger than " + std::to_string(kMaxSecretFileBytes / 1024) +
         " KiB, the most a password or secret file may hold";
}

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
    *error = TooLarge(path);
    return nullptr;
  }
  return handle;
}

}  // namespace

void WipeSecret(std::string& text) {
  volatile char* p = text.data();
  for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

bool CheckSecretFile(const std::string& path, SecretFileRule rule, std::string* error) {
  return OpenChecked(path, rule, error) != nullptr;
}

std::optional<std::string> ReadSecretFile(const std::string& path, SecretFileRule rule,
                                          std::string* error) {
  Handle file = OpenChecked(path, rule, error);
  if (!file) return std::nullopt;
  if (rule == SecretFileRule::OwnerOnly) ProtectSecretsFromDumps();
  std::string text;
  text.reserve(kMaxSecretFileBytes + 1);  // no reallocation leaves a copy behind
  char buf[512];
  std::optional<std::string> result;
  while (true) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buf, sizeof buf, &n, nullptr)) {
      *error = path + ": cannot be read";
      break;
    }
    if (n == 0) {
      result = std::move(text);
      break;
    }
    // A file that grows while it is read is held to the same limit.
    if (text.size() + n > kMaxSecretFileBytes) {
      *error = TooLarge(path);
      break;
    }
    text.append(buf, n);
  }
  WipeSecret(text);
  volatile char* b = buf;
  for (size_t i = 0; i < sizeof buf; ++i) b[i] = 0;
  return result;
}

}  // namespace oa
