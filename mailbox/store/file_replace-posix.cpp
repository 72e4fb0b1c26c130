#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "mailbox/store/file_replace.h"

namespace oa::store {
namespace {

void SyncPath(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The process ID in `name` when it is `base` + ".tmp-PID-N", with an optional SQLite suffix.
std::optional<pid_t> TempFileProcess(const std::string& name, const std::string& base) {
  const std::string prefix = base + ".tmp-";
  if (name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::string rest = name.substr(prefix.size());
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    const size_t n = std::strlen(suffix);
    if (rest.size() > n && rest.compare(rest.size() - n, n, suffix) == 0) {
      rest.resize(rest.size() - n);
      break;
    }
  }
  auto digits = [](const std::string& t) {
    return !t.empty() && t.size() <= 9 && t.find_first_not_of("0123456789") == std::string::npos;
  };
  const size_t dash = rest.find('-');
  if (dash == std::string::npos || !digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1)))
    return std::nullopt;
  const long pid = std::stol(rest.substr(0, dash));
  if (pid <= 0) return std::nullopt;
  return static_cast<pid_t>(pid);
}

}  // namespace

void RemoveStaleTempFiles(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), &::closedir);
  if (!d) return;
  while (const dirent* e = ::readdir(d.get())) {
    const std::string name = e->d_name;
    const std::optional<pid_t> pid = TempFileProcess(name, base);
    // Only a process that is gone for certain: EPERM means it runs under another user.
    if (!pid || ::kill(*pid, 0) == 0 || errno != ESRCH) continue;
    const std::string file = dir + "/" + name;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
      continue;
    ::unlink(file.c_str());
  }
}

std::string TempPathBeside(const std::string& path) {
  static std::atomic<int> counter{0};
  return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

void RemoveStoreFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

void RemoveLogFiles(const std::string& path) {
  ::unlink((path + "-wal").c_str());
  ::unlink((path + "-shm").c_str());
}

void SyncFile(const std::string& path) {
  SyncPath(path, false);
}

std::string RenameOver(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return std::strerror(errno);
  SyncPath(DirectoryOf(to), true);
  return "";
}

}  // namespace oa::store
