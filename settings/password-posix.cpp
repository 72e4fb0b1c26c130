#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = path + ": cannot be read: " + std::strerror(errno);
    return std::nullopt;
  }
  // The mode of the file as opened, so that a file swapped in between cannot slip through.
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": is no regular file";
    return std::nullopt;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = path + ": mode " + mode + ", must be readable by its owner only (chmod 600)";
    return std::nullopt;
  }
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(fd.get(), buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = path + ": cannot be read: " + std::strerror(errno);
      Wipe(text);
      return std::nullopt;
    }
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > 64 * 1024) break;
  }
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
