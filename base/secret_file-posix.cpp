#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/process_guard.h"
#include "base/secret_file.h"
#include "base/secret_file_read.h"

namespace oa {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens and checks; an invalid Fd with *error set when the file is refused.
Fd OpenChecked(const std::string& path, SecretFileRule rule, std::string* error) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer for ever.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    *error = path + ": cannot be read: " + std::strerror(errno);
    return Fd(-1);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": is no regular file";
    return Fd(-1);
  }
  if (rule == SecretFileRule::OwnerOnly) {
    // Root too: root may read every file, but not every file was meant for it.
    if (st.st_uid != ::geteuid()) {
      *error = path + ": is owned by user " + std::to_string(st.st_uid) + ", not by you (uid " +
               std::to_string(::geteuid()) + ")";
      return Fd(-1);
    }
    if ((st.st_mode & 077) != 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      *error = path + ": mode " + mode + ", must be readable by its owner only (chmod 600)";
      return Fd(-1);
    }
  }
  if (st.st_size > static_cast<off_t>(kMaxSecretFileBytes)) {
    *error = SecretFileTooLarge(path);
    return Fd(-1);
  }
  return fd;
}

}  // namespace

bool CheckSecretFile(const std::string& path, SecretFileRule rule, std::string* error) {
  return OpenChecked(path, rule, error).get() >= 0;
}

std::optional<std::string> ReadSecretFile(const std::string& path, SecretFileRule rule,
                                          std::string* error) {
  Fd fd = OpenChecked(path, rule, error);
  if (fd.get() < 0) return std::nullopt;
  if (rule == SecretFileRule::OwnerOnly) ProtectSecretsFromDumps();
  return ReadWholeSecretFile(
      path,
      [&](char* buf, size_t size, std::string* err) -> std::optional<size_t> {
        while (true) {
          const ssize_t n = ::read(fd.get(), buf, size);
          if (n >= 0) return static_cast<size_t>(n);
          if (errno == EINTR) continue;
          *err = path + ": cannot be read: " + std::strerror(errno);
          return std::nullopt;
        }
      },
      error);
}

}  // namespace oa
