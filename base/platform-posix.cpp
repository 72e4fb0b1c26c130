#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/platform.h"

namespace oa {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string JoinPath(const std::string& dir, const std::string& rest) {
  return dir + "/" + rest;
}

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
  return std::fopen(utf8Path.c_str(), mode);
}

std::FILE* OpenOwnerOnlyFile(const std::string& utf8Path, const char* mode) {
  int flags = O_CLOEXEC | O_CREAT;
  std::string streamMode;
  for (const char* m = mode; *m != '\0'; ++m) {
    switch (*m) {
      case 'a':
        flags |= O_APPEND;
        break;
      case 'w':
        flags |= O_TRUNC;
        break;
      case 'x':
        flags |= O_EXCL;
        continue;  // fdopen knows no "x"
      case '+':
        flags |= O_RDWR;
        break;
      default:
        break;
    }
    streamMode += *m;
  }
  if ((flags & O_RDWR) == 0) flags |= O_WRONLY;
  const int fd = ::open(utf8Path.c_str(), flags, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, streamMode.c_str());
  if (f == nullptr) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return f;
}

bool MayAccessFile(const std::string& utf8Path, bool write) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::perms p = fs::status(utf8Path, ec).permissions();
  if (ec) return false;
  const fs::perms any =
      write ? (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)
            : (fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  // Root passes access() whatever the mode, but not on a read-only file system.
  if (::geteuid() == 0 && (p & any) == fs::perms::none) return false;
  return ::access(utf8Path.c_str(), write ? W_OK : R_OK) == 0;
}

bool MakePrivateDirectory(const std::string& utf8Path) {
  return ::mkdir(utf8Path.c_str(), 0700) == 0;
}

bool CanOpenForReading(const std::string& utf8Path) {
  return ::access(utf8Path.c_str(), R_OK) == 0;
}

std::string LastSystemErrorText() {
  return std::strerror(errno);
}

bool LocalTime(std::time_t t, std::tm* out) {
  return localtime_r(&t, out) != nullptr;
}

bool UtcTime(std::time_t t, std::tm* out) {
  return gmtime_r(&t, out) != nullptr;
}

std::time_t TimeFromUtc(std::tm* utc) {
  return timegm(utc);
}

std::string ProgramDirectory() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

std::string AccountHomeDirectory() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw && pw->pw_dir ? pw->pw_dir : "";
}

bool IsTerminal(int standardStream) {
  return ::isatty(standardStream) == 1;
}

}  // namespace oa
