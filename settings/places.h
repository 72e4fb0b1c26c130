// Where the program keeps the user's files, by each system's custom: the XDG directories on
// POSIX systems, the roaming and local application data folders on Windows. Each system's half
// is a platform file (places-posix.cpp, places-win32.cpp).
#pragma once

#include <string>

#include "settings/config.h"

namespace oa::settings {

// A directory of the program's ("ondavel" below the system's folder) and the variable it was
// taken from, for --check-config; `variable` is empty for a default.
struct Place {
  std::string path;
  std::string variable;
};

// The configuration file's directory. POSIX: $XDG_CONFIG_HOME/ondavel, else
// ~/.config/ondavel. Windows: %APPDATA%\ondavel.
Place ConfigPlace(const Environment& env);
// The store files' parent. POSIX: $XDG_DATA_HOME/ondavel, else ~/.local/share/ondavel.
// Windows: %LOCALAPPDATA%\ondavel.
Place DataPlace(const Environment& env);
// The activity log's place when the program's own directory cannot be written. POSIX:
// $XDG_STATE_HOME/ondavel, else ~/.local/state/ondavel. Windows: %LOCALAPPDATA%\ondavel.
Place StatePlace(const Environment& env);
// The netrc file libcurl looks credentials up in (~/.netrc); empty on Windows, which keeps
// credentials in Credential Manager instead.
std::string NetrcFile(const Environment& env);

// How the user is shown where a setting can be changed: "~/.config/ondavel/oa-cleanup.conf" or
// "%APPDATA%\ondavel\oa-cleanup.conf".
extern const char* const kConfigFileShown;
// How a secret file is made the owner's only: "chmod 600", or on Windows its ACL.
extern const char* const kOwnerOnlyHint;
// Where a password comes from besides a password file, for the refusal of --password.
extern const char* const kOtherPasswordSources;
// Where a missing password is looked for, without and with a user set (--check-config).
extern const char* const kPasswordWithoutUser;
extern const char* const kPasswordWithUser;
// Why a CA file is refused on this system; nullptr where one is used (POSIX: libcurl reads it).
extern const char* const kCaFileRefused;
// The activity log's directory when the program's own cannot be written, as the user is shown
// it: "~/.local/state/ondavel" or "%LOCALAPPDATA%\ondavel".
extern const char* const kLogPlaceShown;
// What --help adds about this system's places and logons; empty where the options say it all.
extern const char* const kHelpNotes;

}  // namespace oa::settings
