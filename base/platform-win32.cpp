#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/platform.h"

namespace oa {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8FromPath(std::filesystem::path(wide[i])));
  ::LocalFree(wide);
  return args;
}

std::string JoinPath(const std::string& dir, const std::string& rest) {
  // One kind of separator in what the user is shown: "/" in `rest` becomes "\".
  return Utf8FromPath((PathFromUtf8(dir) / PathFromUtf8(rest)).make_preferred());
}

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
  std::wstring wideMode;
  bool exclusive = false;
  for (const char* m = mode; *m != '\0'; ++m) {
    if (*m == 'x') {
      exclusive = true;
    } else {
      wideMode += static_cast<wchar_t>(*m);
    }
  }
  const std::filesystem::path path = PathFromUtf8(utf8Path);
  if (!exclusive) return ::_wfopen(path.c_str(), wideMode.c_str());
  // msvcrt's fopen knows no "x": create the file exclusively, then attach the stream.
  int fd = -1;
  if (::_wsopen_s(&fd, path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE) != 0) {
    return nullptr;
  }
  std::FILE* f = ::_wfdopen(fd, wideMode.c_str());
  if (f == nullptr) ::_close(fd);
  return f;
}

std::FILE* OpenOwnerOnlyFile(const std::string& utf8Path, const char* mode) {
  return OpenFile(utf8Path, mode);
}

bool MayAccessFile(const std::string& utf8Path, bool write) {
  return ::_waccess(PathFromUtf8(utf8Path).c_str(), write ? 2 : 4) == 0;
}

bool MakePrivateDirectory(const std::string& utf8Path) {
  return ::CreateDirectoryW(PathFromUtf8(utf8Path).c_str(), nullptr) != 0;
}

bool CanOpenForReading(const std::string& utf8Path) {
  return ::_waccess(PathFromUtf8(utf8Path).c_str(), 4) == 0;
}

std::string LastSystemErrorText() {
  const DWORD code = ::GetLastError();
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) return "system error " + std::to_string(code);
  std::wstring message(text, n);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L'.' || message.back() == L' ')) {
    message.pop_back();
  }
  return Utf8FromPath(std::filesystem::path(message));
}

bool LocalTime(std::time_t t, std::tm* out) {
  return ::localtime_s(out, &t) == 0;
}

bool UtcTime(std::time_t t, std::tm* out) {
  return ::gmtime_s(out, &t) == 0;
}

std::time_t TimeFromUtc(std::tm* utc) {
  return ::_mkgmtime(utc);
}

std::string ProgramDirectory() {
  // Long paths: grow the buffer until the whole name fits.
  std::wstring name(MAX_PATH, L'\0');
  while (true) {
    const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      break;
    }
    name.resize(name.size() * 2);
  }
  return Utf8FromPath(std::filesystem::path(name).parent_path());
}

std::string AccountHomeDirectory() {
  wchar_t profile[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile) != S_OK) {
    return {};
  }
  return Utf8FromPath(std::filesystem::path(profile));
}

bool IsTerminal(int standardStream) {
  const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  if (standardStream < 0 || standardStream > 2) return false;
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(ids[standardStream]), &mode) != 0;
}

}  // namespace oa
