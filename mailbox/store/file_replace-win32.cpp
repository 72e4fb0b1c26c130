#include <windows.h>

#include <atomic>
#include <system_error>

#include "base/platform.h"
#include "mailbox/store/file_replace.h"

namespace oa::store {
namespace {

std::string LastErrorText() {
  return std::system_category().message(static_cast<int>(::GetLastError()));
}

}  // namespace

std::string TempPathBeside(const std::string& path) {
  static std::atomic<int> counter{0};
  return path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

void RemoveStoreFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    ::DeleteFileW(PathFromUtf8(path + suffix).c_str());
}

void RemoveLogFiles(const std::string& path) {
  ::DeleteFileW(PathFromUtf8(path + "-wal").c_str());
  ::DeleteFileW(PathFromUtf8(path + "-shm").c_str());
}

void SyncFile(const std::string& path) {
  const HANDLE h = ::CreateFileW(PathFromUtf8(path).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  ::FlushFileBuffers(h);
  ::CloseHandle(h);
}

// The rename itself is written through, so the directory entry needs no flush of its own.
std::string RenameOver(const std::string& from, const std::string& to) {
  if (!::MoveFileExW(PathFromUtf8(from).c_str(), PathFromUtf8(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return LastErrorText();
  }
  return "";
}

}  // namespace oa::store
