#include "base/platform.h"
#include "settings/places.h"

namespace oa::settings {
namespace {

std::string Home(const Environment& env) {
  if (auto home = env("HOME")) return *home;
  return AccountHomeDirectory();
}

// $variable/ondavel when the variable holds an absolute path (a relative one is ignored),
// else `fallback`/ondavel below the home directory.
Place Xdg(const Environment& env, const char* variable, const char* fallback) {
  if (auto v = env(variable); v && PathFromUtf8(*v).is_absolute())
    return {JoinPath(*v, "ondavel"), variable};
  return {JoinPath(Home(env), std::string(fallback) + "/ondavel"), ""};
}

}  // namespace

const char* const kConfigFileShown = "~/.config/ondavel/oa-cleanup.conf";
const char* const kOwnerOnlyHint = "chmod 600";
const char* const kOtherPasswordSources = "~/.netrc, or type it when asked";
const char* const kPasswordWithoutUser = "the Kerberos ticket, or ~/.netrc";
const char* const kPasswordWithUser = "~/.netrc, or asked for on the terminal without a window";
const char* const kCaFileRefused = nullptr;
const char* const kLogPlaceShown = "~/.local/state/ondavel";
const char* const kHelpNotes = "";

Place ConfigPlace(const Environment& env) {
  return Xdg(env, "XDG_CONFIG_HOME", ".config");
}

Place DataPlace(const Environment& env) {
  return Xdg(env, "XDG_DATA_HOME", ".local/share");
}

Place StatePlace(const Environment& env) {
  return Xdg(env, "XDG_STATE_HOME", ".local/state");
}

std::string NetrcFile(const Environment& env) {
  return JoinPath(Home(env), ".netrc");
}

}  // namespace oa::settings
