#include <windows.h>
// After windows.h, which it needs.
#include <knownfolders.h>
#include <shlobj.h>

#include "base/platform.h"
#include "settings/places.h"

namespace oa::settings {
namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::string out;
  if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK)
    out = Utf8FromPath(std::filesystem::path(path));
  ::CoTaskMemFree(path);
  return out;
}

// %variable%\ondavel when the variable holds an absolute path, else the known folder's.
Place AppData(const Environment& env, const char* variable, REFKNOWNFOLDERID id) {
  if (auto v = env(variable); v && PathFromUtf8(*v).is_absolute())
    return {JoinPath(*v, "ondavel"), variable};
  const std::string folder = KnownFolder(id);
  return {folder.empty() ? std::string() : JoinPath(folder, "ondavel"), ""};
}

}  // namespace

const char* const kConfigFileShown = "%APPDATA%\\ondavel\\oa-cleanup.conf";
const char* const kOwnerOnlyHint = "no one else may read it";
const char* const kOtherPasswordSources =
    "a generic credential oa-cleanup:SERVER in Credential Manager, or type it when asked";
const char* const kPasswordWithoutUser =
    "the credential oa-cleanup:SERVER in Credential Manager, else the Windows user signed on "
    "(Negotiate)";
const char* const kPasswordWithUser =
    "the credential oa-cleanup:SERVER in Credential Manager, else asked for on the console "
    "without a window";
const char* const kCaFileRefused =
    "a CA file is not used on Windows, which trusts the certificates in its certificate store: "
    "add the CA's certificate to the store (certutil -addstore Root FILE, or certlm.msc, "
    "Trusted Root Certification Authorities) and leave ca-file unset";
const char* const kLogPlaceShown = "%LOCALAPPDATA%\\ondavel";
const char* const kHelpNotes =
    "On Windows: the configuration file is %APPDATA%\\ondavel\\oa-cleanup.conf and the store "
    "directory %LOCALAPPDATA%\\ondavel\\stores. Without a user the program signs on as the "
    "Windows user (Negotiate, then NTLM). The password comes from the password file, else "
    "OA_EWS_PASSWORD, else the generic credential oa-cleanup:SERVER in Credential Manager "
    "(cmdkey /generic:oa-cleanup:SERVER /user:NAME /pass; SERVER the server's host name, its "
    "user the configured one, or the user when none is configured), else the console asks for "
    "it. The server's certificate is checked against the Windows certificate store.";

Place ConfigPlace(const Environment& env) {
  return AppData(env, "APPDATA", FOLDERID_RoamingAppData);
}

Place DataPlace(const Environment& env) {
  return AppData(env, "LOCALAPPDATA", FOLDERID_LocalAppData);
}

Place StatePlace(const Environment& env) {
  return AppData(env, "LOCALAPPDATA", FOLDERID_LocalAppData);
}

std::string NetrcFile(const Environment&) {
  return {};
}

}  // namespace oa::settings
