#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

}  // namespace

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
