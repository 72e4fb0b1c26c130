// Every setting of the backends, read in one place: command-line options first, then the
// per-user configuration file, then the environment variables scripts use, then defaults.
// Each value remembers where it came from, for --check-config. Nothing else in the program
// reads the environment.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace oa::settings {

// A variable's value; nullopt when it is unset or empty.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;
// The process's own environment.
Environment ProcessEnvironment();

enum class Source { Default, Variable, File, Option };

struct Origin {
  Source source = Source::Default;
  // The option ("--user"), the file and line ("/home/a/.config/ondavel/oa-cleanup.conf:3") or
  // the variable ("OA_EWS_USER"); empty for a default.
  std::string where;
  std::string Describe() const;
};

template <class T>
struct Setting {
  T value{};
  Origin origin;
};

struct EwsConfig {
  // Impersonation (ApplicationImpersonation right) instead of delegate access.
  Setting<bool> impersonate;
  Setting<std::string> user;
  Setting<std::string> passwordFile;
  // The secret itself: from the password file or OA_EWS_PASSWORD. Never printed.
  Setting<std::string> password;
  Setting<std::string> caFile;
  Setting<long> timeoutMs{120000, {}};
  Setting<long> maxWaitMs{300000, {}};
  // Where libcurl looks up credentials when no user is set (not configurable; shown).
  std::string netrcFile;
};

// Exchange Online through Microsoft Graph: app-only sign-in of a registered application. The TLS
// trust, timeout and longest wait are [ews]'s; the longest wait's default is the service's own
// window (10 minutes), so that a wait the service asks for within it is waited out.
struct GraphConfig {
  Setting<std::string> tenant;
  Setting<std::string> clientId;
  // The certificate (PEM) and its private key (PEM; the certificate's file when unset).
  Setting<std::string> certificate;
  Setting<std::string> key;
  // On Windows instead: the certificate's SHA-1 thumbprint in the current user's or the
  // machine's personal certificate store, whose private key never leaves the store.
  Setting<std::string> certificateThumbprint;
  Setting<std::string> secretFile;
  // The client secret itself, read from the secret file. Never printed.
  Setting<std::string> secret;
  Setting<std::string> loginUrl{"https://login.microsoftonline.com", {}};
  Setting<std::string> graphUrl{"https://graph.microsoft.com", {}};
  // [ews]'s max-wait when it is set, else this default.
  Setting<long> maxWaitMs{600000, {}};
};

struct Config {
  // The configuration file looked at, and whether it exists.
  std::string file;
  bool fileFound = false;
  EwsConfig ews;
  GraphConfig graph;
  Setting<std::string> storeDirectory;
  Setting<std::string> registryUser;
  Setting<std::string> registryMachine;
};

// The options of the command line that configure the backends; unset when not given.
struct ConfigOptions {
  std::optional<std::string> configFile;
  std::optional<bool> impersonate;
  std::optional<std::string> user;
  std::optional<std::string> passwordFile;
  std::optional<std::string> caFile;
  std::optional<std::string> timeout;
  std::optional<std::string> maxWait;
  std::optional<std::string> storeDirectory;
  std::optional<std::string> graphTenant;
  std::optional<std::string> graphClientId;
  std::optional<std::string> graphCertificate;
  std::optional<std::string> graphKey;
  std::optional<std::string> graphCertificateThumbprint;
  std::optional<std::string> graphSecretFile;
  // False for programs that sign in nowhere (oa-store): the password and secret files are
  // neither read nor checked, so no secret is held by a program that has no use for it.
  bool readSecrets = true;
};

struct ConfigResult {
  Config config;
  // Each names its input (option, file and line, variable) and the reason.
  std::vector<std::string> errors;
  bool ok() const { return errors.empty(); }
};

// The per-user configuration file: $XDG_CONFIG_HOME/ondavel/oa-cleanup.conf, else
// ~/.config/ondavel/oa-cleanup.conf.
std::string UserConfigFile(const Environment& env);

// Reads the configuration. A missing per-user file is no error; a file named by --config must
// exist. `readFile` false leaves the file out (programs and tests that take variables only).
ConfigResult LoadConfig(const ConfigOptions& options, const Environment& env, bool readFile = true);

// Prints every setting, its value and where it came from; secrets only as "set" / "not set".
void PrintConfig(const Config& config, std::ostream& out);

// Where the registry lookups read the registry on systems without one.
RegistryFiles RegistryFilesOf(const Config& config);

// A duration as typed: "90" or "90s" seconds, "500ms", "2m" or "2min"; nullopt when malformed.
std::optional<long> ParseDurationMs(const std::string& text);
std::string FormatDurationMs(long ms);

}  // namespace oa::settings
