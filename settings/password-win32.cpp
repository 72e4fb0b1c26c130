// The password's sources on Windows: the file as base/secret_file reads it there (who may read
// it is up to its ACL), and the console, read with echo off.
#include <windows.h>

#include <cstdio>

#include "base/platform.h"
#include "base/secret_file.h"
#include "settings/password.h"

namespace oa::settings {
namespace {

// Overwrites a buffer that held a secret before it is released.
template <typename Text>
void Wipe(Text& s) {
  volatile auto* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

// Echo and line editing as they were, when it goes.
class ConsoleMode {
 public:
  ConsoleMode(HANDLE in, DWORD mode) : in_(in) {
    active_ = ::GetConsoleMode(in_, &saved_) && ::SetConsoleMode(in_, mode);
  }
  ~ConsoleMode() {
    if (active_) ::SetConsoleMode(in_, saved_);
  }
  ConsoleMode(const ConsoleMode&) = delete;
  ConsoleMode& operator=(const ConsoleMode&) = delete;

 private:
  HANDLE in_;
  DWORD saved_ = 0;
  bool active_ = false;
};

}  // namespace

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string* error) {
  std::optional<std::string> text = ReadSecretFile(path, SecretFileRule::OwnerOnly, error);
  if (!text) return std::nullopt;
  std::string password = text->substr(0, text->find('\n'));
  Wipe(*text);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    *error = path + ": holds no password on its first line";
    return std::nullopt;
  }
  return password;
}

std::optional<std::string> PromptPassword(const std::string& prompt,
                                          const std::function<bool()>& cancelled) {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(in, &mode)) return std::nullopt;
  std::wstring line;
  {
    // Echo goes off before the prompt shows; whole lines, so Backspace still works.
    ConsoleMode quiet(in, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    while (true) {
      // Waits in short steps so that Ctrl+C (caught by the run's handler) ends the prompt.
      const DWORD ready = ::WaitForSingleObject(in, 200);
      if (cancelled && cancelled()) {
        Wipe(line);
        std::fputs("\n", stderr);
        return std::nullopt;
      }
      if (ready == WAIT_FAILED) return std::nullopt;
      if (ready != WAIT_OBJECT_0) continue;
      wchar_t c = 0;
      DWORD n = 0;
      if (!::ReadConsoleW(in, &c, 1, &n, nullptr) || n == 0) {
        Wipe(line);
        return std::nullopt;
      }
      if (c == L'\n') break;
      if (c != L'\r') line += c;
    }
    std::fputs("\n", stderr);
  }
  std::string password = Utf8FromPath(std::filesystem::path(line));
  Wipe(line);
  return password;
}

}  // namespace oa::settings
