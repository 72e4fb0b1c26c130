#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/process_guard.h"
#include "base/secret_file.h"

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

std::string TooLarge(const std::string& path) {
  return path + ": is larger than " + std::to_string(kMaxSecretFileBytes / 1024) +
         " KiB, the most a password or secret file may hold";
}

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
    *error = TooLarge(path);
    return Fd(-1);
  }
  return fd;
}

}  // namespace

void WipeSecret(std::string& text) {
  volatile char* p = text.data();
  for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

bool CheckSecretFile(const std::string& path, SecretFileRule rule, std::string* error) {
  return OpenChecked(path, rule, error).get() >= 0;
}

std::optional<std::string> ReadSecretFile(const std::string& path, SecretFileRule rule,
                                          std::string* error) {
  Fd fd = OpenChecked(path, rule, error);
  if (fd.get() < 0) return std::nullopt;
  if (rule == SecretFileRule::OwnerOnly) ProtectSecretsFromDumps();
  std::string text;
  text.reserve(kMaxSecretFileBytes + 1);  // no reallocation leaves a copy behind
  char buf[512];
  std::optional<std::string> result;
  while (true) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n == 0) {
      result = std::move(text);
      break;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = path + ": cannot be read: " + std::strerror(errno);
      break;
    }
    // A file that grows while it is read is held to the same limit.
    if (text.size() + static_cast<size_t>(n) > kMaxSecretFileBytes) {
      *error = TooLarge(path);
      break;
    }
    text.append(buf, static_cast<size_t>(n));
  }
  WipeSecret(text);
  volatile char* b = buf;
  for (size_t i = 0; i < sizeof buf; ++i) b[i] = 0;
  return result;
}

}  // namespace oa
