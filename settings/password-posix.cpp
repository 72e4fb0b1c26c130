#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/process_guard.h"
#include "base/secret_file.h"
#include "settings/password.h"

namespace oa::settings {
namespace {

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

}  // namespace

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string* error) {
  std::optional<std::string> text = ReadSecretFile(path, SecretFileRule::OwnerOnly, error);
  if (!text) return std::nullopt;
  std::string password = text->substr(0, text->find('\n'));
  WipeSecret(*text);
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
        WipeSecret(line);
        std::fputs("\n", stderr);
        return std::nullopt;
      }
      if (ready < 0 && errno != EINTR) {
        WipeSecret(line);
        return std::nullopt;
      }
      if (ready <= 0) continue;
      char c = 0;
      const ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        WipeSecret(line);
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
