// Keeps a logon in this Wine prefix's (or Windows account's) Credential Manager, as
// `cmdkey /generic:TARGET /user:USER /pass` does: `add_test_credential add TARGET USER FILE`
// writes a generic credential with the password on FILE's first line (never on the command
// line), stored as cmdkey stores it, in UTF-16; `add_test_credential remove TARGET` deletes it.
#include <windows.h>
// After windows.h, which it needs.
#include <wincred.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// ASCII and UTF-8 both: the tests' names and passwords are ASCII.
std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string action = argc >= 3 ? argv[1] : "";
  if (!((action == "add" && argc == 5) || (action == "remove" && argc == 3))) {
    std::fprintf(stderr,
                 "usage: add_test_credential add TARGET USER PASSWORD-FILE | remove TARGET\n");
    return 2;
  }
  const std::wstring target = Wide(argv[2]);
  if (action == "remove") {
    if (!::CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0) &&
        ::GetLastError() != ERROR_NOT_FOUND) {
      std::fprintf(stderr, "%s: not removed: error %lu\n", argv[2], ::GetLastError());
      return 1;
    }
    return 0;
  }
  std::ifstream in(argv[4], std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line.empty()) {
    std::fprintf(stderr, "%s: no password on its first line\n", argv[4]);
    return 1;
  }
  if (line.back() == '\r') line.pop_back();
  std::wstring user = Wide(argv[3]);
  std::wstring password = Wide(line);
  CREDENTIALW c{};
  c.Type = CRED_TYPE_GENERIC;
  c.TargetName = const_cast<wchar_t*>(target.c_str());
  c.UserName = user.data();
  c.CredentialBlob = reinterpret_cast<BYTE*>(password.data());
  c.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
  c.Persist = CRED_PERSIST_LOCAL_MACHINE;
  const bool written = ::CredWriteW(&c, 0);
  ::SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
  if (!written) {
    std::fprintf(stderr, "%s: not written: error %lu\n", argv[2], ::GetLastError());
    return 1;
  }
  return 0;
}
