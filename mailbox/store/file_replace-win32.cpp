#include <windows.h>

#include <atomic>
#include <filesystem>
#include <system_error>

#include "base/platform.h"
#include "mailbox/store/file_replace.h"

namespace oa::store {
namespace {

std::string LastErrorText() {
  return std::system_category().message(static_cast<int>(::GetLastError()));
}

// Whether no process with this ID exists (a process of another user still counts as running).
bool ProcessIsGone(DWORD pid) {
  const HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (h == nullptr) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool gone = ::GetExitCodeProcess(h, &code) && code != STILL_ACTIVE;
  ::CloseHandle(h);
  return gone;
}

}  // namespace

void RemoveStaleTempFiles(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path target = PathFromUtf8(path);
  const std::string prefix = Utf8FromPath(target.filename()) + ".tmp-";
  std::error_code ec;
  for (fs::directory_iterator
           it(target.has_parent_path() ? target.parent_path() : fs::path("."), ec),
       end;
       !ec && it != end; it.increment(ec)) {
    std::string rest = Utf8FromPath(it->path().filename());
    if (rest.compare(0, prefix.size(), prefix) != 0) continue;
    rest = rest.substr(prefix.size());
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      const std::string s = suffix;
      if (rest.size() > s.size() && rest.compare(rest.size() - s.size(), s.size(), s) == 0) {
        rest.resize(rest.size() - s.size());
        break;
      }
    }
    const size_t dash = rest.find('-');
    auto digits = [](const std::string& t) {
      return !t.empty() && t.size() <= 9 && t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (dash == std::string::npos || !digits(rest.substr(0, dash)) ||
        !digits(rest.substr(dash + 1)))
      continue;
    std::error_code fec;
    if (!it->is_regular_file(fec) || it->is_symlink(fec)) continue;
    if (ProcessIsGone(static_cast<DWORD>(std::stoul(rest.substr(0, dash)))))
      ::DeleteFileW(it->path().c_str());
  }
}

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
