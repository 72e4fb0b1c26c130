#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/process_guard.h"
#include "settings/password.h"

namespace oa::settings {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Echo off for as long as it lives.
class NoEcho {
 public:
  explicit NoEcho(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~NoEcho() {
    if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

// Overwrites a buffer that held a secret before it is released.
void Wipe(std::string& s) {
  volatile char* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

}  // namespace

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string* error) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer for ever; the file is judged
  // by what was opened (a symlink to a file of one's own is fine), never by its name again.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    *error = path + ": cannot be read: " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": is no regular file";
    return std::nullopt;
  }
  // Root too: a file someone else owns could have been put there for us to use.
  if (st.st_uid != ::geteuid()) {
    *error = path + ": is owned by user " + std::to_string(st.st_uid) + ", not by you (uid " +
             std::to_string(::geteuid()) + ")";
    return std::nullopt;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = path + ": mode " + mode + ", must be readable by its owner only (chmod 600)";
    return std::nullopt;
  }
  const std::string tooLarge = path + ": is larger than " +
                               std::to_string(kMaxSecretFileBytes / 1024) +
                               " KiB, the most a password or secret file may hold";
  if (st.st_size > static_cast<off_t>(kMaxSecretFileBytes)) {
    *error = tooLarge;
    return std::nullopt;
  }
  ProtectSecretsFromDumps();
  std::string text;
  text.reserve(kMaxSecretFileBytes + 1);  // no reallocation leaves a copy behind
  char buf[512];
  for (ssize_t n; (n = ::read(fd.get(), buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = path + ": cannot be read: " + std::strerror(errno);
      Wipe(text);
      return std::nullopt;
    }
    // A file that grows while it is read is held to the same limit.
    if (text.size() + static_cast<size_t>(n) > kMaxSecretFileBytes) {
      Wipe(text);
      *error = tooLarge;
      return std::nullopt;
    }
    text.append(buf, static_cast<size_t>(n));
  }
  volatile char* b = buf;
  for (size_t i = 0; i < sizeof buf; ++i) b[i] = 0;
  std::string password = text.substr(0, text.find('\n'));
  Wipe(text);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    *error = path + ": holds no password on its first line";
    return std::nullopt;
  }
  return password;
}

std::optional<std::string> PromptPassword(const std::string& prompt,
                                          const std::function<bool()>& cancelled) {
  if (!::isatty(STDIN_FILENO)) return std::nullopt;
  ProtectSecretsFromDumps();
  std::string line;
  {
    // Echo goes off before the prompt shows, so that nothing typed after it is echoed or lost.
    NoEcho quiet(STDIN_FILENO);
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    while (true) {
      // Waits in short steps so that Ctrl+C (caught by the run's handler) ends the prompt.
      pollfd p{STDIN_FILENO, POLLIN, 0};
      const int ready = ::poll(&p, 1, 200);
      if (cancelled && cancelled()) {
        Wipe(line);
        std::fputs("\n", stderr);
        return std::nullopt;
      }
      if (ready < 0 && errno != EINTR) {
        Wipe(line);
        return std::nullopt;
      }
      if (ready <= 0) continue;
      char c = 0;
      const ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Wipe(line);
        return std::nullopt;
      }
      if (c == '\n') break;
      line += c;
    }
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace oa::settings
