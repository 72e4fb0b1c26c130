#include "settings/config.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <map>

#include "base/platform.h"
#include "base/process_guard.h"
#include "base/thumbprint.h"
#include "base/url_origin.h"
#include "settings/config_file.h"
#include "settings/password.h"
#include "settings/places.h"
#include "settings/settings.h"

namespace oa::settings {
namespace {

// Certificates named by thumbprint live in the Windows certificate store.
#ifdef _WIN32
constexpr bool kHaveCertificateStore = true;
#else
constexpr bool kHaveCertificateStore = false;
#endif

// Section, key, and whether the value is a path (relative paths in the file are taken from
// the file's directory, "~/" from the home directory).
struct KnownKey {
  const char* section;
  const char* key;
  bool path;
};
constexpr KnownKey kKeys[] = {
    {"ews", "access", false},
    {"ews", "user", false},
    {"ews", "password-file", true},
    {"ews", "ca-file", true},
    {"ews", "timeout", false},
    {"ews", "max-wait", false},
    {"store", "directory", true},
    {"registry", "user", true},
    {"registry", "machine", true},
    {"graph", "tenant", false},
    {"graph", "client-id", false},
    {"graph", "certificate", true},
    {"graph", "key", true},
    {"graph", "secret-file", true},
    {"graph", "login-url", false},
    {"graph", "graph-url", false},
    {"graph", "certificate-thumbprint", false},
};

std::string KeysOf(const std::string& section) {
  std::string out;
  for (const KnownKey& k : kKeys) {
    if (section != k.section) continue;
    out += (out.empty() ? "" : ", ") + std::string(k.key);
  }
  return out;
}

const KnownKey* FindKey(const std::string& section, const std::string& key) {
  for (const KnownKey& k : kKeys)
    if (section == k.section && key == k.key) return &k;
  return nullptr;
}

std::string HomeDirectory(const Environment& env) {
  if (auto home = env("HOME")) return *home;
  return AccountHomeDirectory();
}

// The text of one setting and where it came from, before it is converted.
struct Raw {
  std::string text;
  Origin origin;
};

class Loader {
 public:
  Loader(const ConfigOptions& options, const Environment& env, ConfigResult& result)
      : options_(options), env_(env), result_(result), config_(result.config) {}

  void ReadFile(bool readFile) {
    config_.file = options_.configFile ? *options_.configFile : UserConfigFile(env_);
    if (!config_.file.empty() && !PathFromUtf8(config_.file).is_absolute()) {
      std::error_code ec;
      const auto absolute = std::filesystem::absolute(PathFromUtf8(config_.file), ec);
      if (!ec) config_.file = Utf8FromPath(absolute.lexically_normal());
    }
    if (!readFile) return;
    std::error_code ec;
    const auto status = std::filesystem::status(PathFromUtf8(config_.file), ec);
    if (!std::filesystem::exists(status)) {
      if (options_.configFile) Error("--config: " + config_.file + ": no such file");
      return;
    }
    config_.fileFound = true;
    // A FIFO would keep the read waiting for a writer, a device (/dev/zero) would never end.
    if (!std::filesystem::is_regular_file(status) && !std::filesystem::is_directory(status)) {
      Error(config_.file + ": is no regular file");
      return;
    }
    std::ifstream in(PathFromUtf8(config_.file), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (std::filesystem::is_directory(status) || !in.is_open() || in.bad()) {
      Error(config_.file + ": cannot be read");
      return;
    }
    ConfigFileText parsed = ParseConfigFile(config_.file, text);
    // The file's errors in the order of its lines.
    std::vector<std::pair<int, std::string>>& lineErrors = parsed.errors;
    lineErrors_ = &lineErrors;
    for (const ConfigSection& s : parsed.sections) {
      if (KeysOf(s.name).empty())
        Error(s.line, At(s.line) + ": unknown section [" + s.name +
                          "]; the sections are [ews], [graph], [store] and [registry]");
    }
    for (ConfigLine& l : parsed.entries) {
      if (KeysOf(l.section).empty()) continue;  // reported with its section
      if ((l.section == "ews" && l.key == "password") ||
          (l.section == "graph" && (l.key == "secret" || l.key == "client-secret"))) {
        Error(l.line, At(l.line) + (l.section == "ews"
                                        ? ": a password is not kept in the configuration file; "
                                          "name a file that only you can read with password-file"
                                        : ": a client secret is not kept in the configuration "
                                          "file; name a file that only you can read with "
                                          "secret-file"));
        continue;
      }
      const KnownKey* known = FindKey(l.section, l.key);
      if (!known) {
        Error(l.line, At(l.line) + ": unknown key \"" + l.key + "\" in [" + l.section +
                          "]; the keys there are " + KeysOf(l.section));
        continue;
      }
      const std::string name = l.section + "." + l.key;
      if (auto it = file_.find(name); it != file_.end()) {
        Error(l.line, At(l.line) + ": \"" + l.key + "\" in [" + l.section +
                          "] is given twice (first on line " + std::to_string(it->second.line) +
                          ")");
        continue;
      }
      if (l.value.empty()) {
        Error(l.line, At(l.line) + ": \"" + l.key + "\" has no value");
        continue;
      }
      if (known->path) l.value = FilePath(l.value);
      file_.emplace(name, std::move(l));
    }
    lineErrors_ = nullptr;
    std::stable_sort(lineErrors.begin(), lineErrors.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& e : lineErrors) Error(std::move(e.second));
  }

  void Fill() {
    EwsConfig& ews = config_.ews;
    ews.netrcFile = NetrcFile(env_);
    if (options_.impersonate) {
      ews.impersonate = {*options_.impersonate,
                         {Source::Option, *options_.impersonate ? "--impersonate" : "--delegate"}};
    } else if (auto raw = Find(std::nullopt, "", "ews.access", "OA_EWS_ACCESS")) {
      if (raw->text == "impersonate" || raw->text == "delegate")
        ews.impersonate = {raw->text == "impersonate", raw->origin};
      else
        Error(Where(raw->origin) + ": \"" + raw->text +
              "\" is no access mode; use delegate or impersonate");
    }
    String(ews.user, options_.user, "--user", "ews.user", "OA_EWS_USER");
    String(ews.passwordFile, options_.passwordFile, "--password-file", "ews.password-file",
           "OA_EWS_PASSWORD_FILE");
    String(ews.caFile, options_.caFile, "--ca-file", "ews.ca-file", "OA_EWS_CAFILE");
    Duration(ews.timeoutMs, options_.timeout, "--timeout", "ews.timeout", "OA_EWS_TIMEOUT_MS");
    Duration(ews.maxWaitMs, options_.maxWait, "--max-wait", "ews.max-wait", "OA_EWS_MAX_WAIT_MS");
    // A value given applies to both backends; Graph's own default covers the service's window.
    if (ews.maxWaitMs.origin.source != Source::Default) config_.graph.maxWaitMs = ews.maxWaitMs;

    if (options_.readSecrets) ReadEwsPassword();
    if (!ews.caFile.value.empty() && kCaFileRefused) {
      // Refused before any logon, also by --check-config: it could never be used.
      Error(Where(ews.caFile.origin) + ": " + kCaFileRefused);
    } else if (!ews.caFile.value.empty() && !CanOpenForReading(ews.caFile.value)) {
      Error(Where(ews.caFile.origin) + ": " + ews.caFile.value +
            ": cannot be read: " + std::strerror(errno));
    }

    FillGraph();

    const Place data = DataPlace(env_);
    config_.storeDirectory = {JoinPath(data.path, "stores"), {Source::Default, data.variable}};
    String(config_.storeDirectory, options_.storeDirectory, "--store-dir", "store.directory",
           "OA_STORE_DIR");
    const Place conf = ConfigPlace(env_);
    config_.registryUser = {JoinPath(conf.path, "registry.reg"), {Source::Default, conf.variable}};
    String(config_.registryUser, std::nullopt, "", "registry.user", "OA_REGISTRY_USER");
    config_.registryMachine = {"/etc/ondavel/registry.reg", {}};
    String(config_.registryMachine, std::nullopt, "", "registry.machine", "OA_REGISTRY_MACHINE");
  }

  void ReadEwsPassword() {
    EwsConfig& ews = config_.ews;
    if (!ews.passwordFile.value.empty()) {
      std::string error;
      if (auto password = ReadPasswordFile(ews.passwordFile.value, &error))
        ews.password = {std::move(*password), ews.passwordFile.origin};
      else
        Error(Where(ews.passwordFile.origin) + ": " + error);
    } else if (auto password = env_("OA_EWS_PASSWORD")) {
      ProtectSecretsFromDumps();
      ews.password = {std::move(*password), {Source::Variable, "OA_EWS_PASSWORD"}};
    }
  }

  void FillGraph() {
    GraphConfig& g = config_.graph;
    String(g.tenant, options_.graphTenant, "--graph-tenant", "graph.tenant", "OA_GRAPH_TENANT");
    String(g.clientId, options_.graphClientId, "--graph-client-id", "graph.client-id",
           "OA_GRAPH_CLIENT_ID");
    String(g.certificate, options_.graphCertificate, "--graph-certificate", "graph.certificate",
           "OA_GRAPH_CERTIFICATE");
    String(g.key, options_.graphKey, "--graph-key", "graph.key", "OA_GRAPH_KEY");
    String(g.certificateThumbprint, options_.graphCertificateThumbprint,
           "--graph-certificate-thumbprint", "graph.certificate-thumbprint",
           "OA_GRAPH_CERTIFICATE_THUMBPRINT");
    CheckThumbprint(g);
    String(g.secretFile, options_.graphSecretFile, "--graph-secret-file", "graph.secret-file",
           "OA_GRAPH_SECRET_FILE");
    String(g.loginUrl, std::nullopt, "", "graph.login-url", "OA_GRAPH_LOGIN_URL");
    String(g.graphUrl, std::nullopt, "", "graph.graph-url", "OA_GRAPH_URL");
    // The client secret and every token go to these two: over TLS, unless to this machine.
    for (auto [u, key] :
         {std::pair{&g.loginUrl, "graph.login-url"}, std::pair{&g.graphUrl, "graph.graph-url"}}) {
      std::string why;
      if (!IsSafeServiceUrl(u->value, &why))
        Error((u->origin.where.empty() ? "" : Where(u->origin) + ": ") + key + " " + u->value +
              ": " + why);
    }
    for (const Setting<std::string>* f : {&g.certificate, &g.key}) {
      if (!f->value.empty() && !CanOpenForReading(f->value))
        Error(Where(f->origin) + ": " + f->value + ": cannot be read: " + std::strerror(errno));
    }
    if (options_.readSecrets && !g.secretFile.value.empty()) {
      std::string error;
      if (auto secret = ReadPasswordFile(g.secretFile.value, &error))
        g.secret = {std::move(*secret), g.secretFile.origin};
      else
        Error(Where(g.secretFile.origin) + ": " + error);
    }
  }

 private:
  // A thumbprint names a certificate of the Windows certificate store: refused at once where
  // there is none, or beside a certificate file, or when it is no thumbprint.
  void CheckThumbprint(const GraphConfig& g) {
    const Setting<std::string>& t = g.certificateThumbprint;
    if (t.value.empty()) return;
    const std::string where = t.origin.where.empty() ? "" : Where(t.origin) + ": ";
    if (!kHaveCertificateStore)
      Error(where +
            "graph.certificate-thumbprint names a certificate in the Windows "
            "certificate store, which this system does not have; give the certificate "
            "and its key as PEM files (graph.certificate, graph.key)");
    else if (!g.certificate.value.empty())
      Error(where +
            "graph.certificate-thumbprint and graph.certificate both name the "
            "application's certificate; give one of them");
    else if (!ParseThumbprint(t.value))
      Error(where + "graph.certificate-thumbprint " + t.value +
            ": not a certificate thumbprint (40 hexadecimal digits, the SHA-1 shown in the "
            "certificate's details)");
  }

  void Error(std::string text) { result_.errors.push_back(std::move(text)); }
  // While the file is read, an error of one of its lines waits to be sorted in.
  void Error(int line, std::string text) {
    if (lineErrors_)
      lineErrors_->emplace_back(line, std::move(text));
    else
      Error(std::move(text));
  }
  std::string At(int line) const { return config_.file + ":" + std::to_string(line); }
  static const std::string& Where(const Origin& o) { return o.where; }

  std::string FilePath(const std::string& value) const {
    if (value == "~") return HomeDirectory(env_);
    if (value.rfind("~/", 0) == 0) return JoinPath(HomeDirectory(env_), value.substr(2));
    if (PathFromUtf8(value).is_absolute()) return value;
    return Utf8FromPath(
        (PathFromUtf8(config_.file).parent_path() / PathFromUtf8(value)).lexically_normal());
  }

  // The option, else the file's key, else the variable; nullopt for the default.
  std::optional<Raw> Find(const std::optional<std::string>& option, const char* optionName,
                          const std::string& key, const char* variable) const {
    if (option) return Raw{*option, {Source::Option, optionName}};
    if (auto it = file_.find(key); it != file_.end())
      return Raw{it->second.value, {Source::File, At(it->second.line)}};
    if (variable)
      if (auto v = env_(variable)) return Raw{*v, {Source::Variable, variable}};
    return std::nullopt;
  }

  void String(Setting<std::string>& s, const std::optional<std::string>& option,
              const char* optionName, const std::string& key, const char* variable) {
    if (auto raw = Find(option, optionName, key, variable)) {
      if (raw->text.empty()) {
        Error(raw->origin.where + ": no value given");
        return;
      }
      s = {raw->text, raw->origin};
    }
  }

  // Options and the file take durations ("90s", "500ms"); the variables take milliseconds.
  void Duration(Setting<long>& s, const std::optional<std::string>& option, const char* optionName,
                const std::string& key, const char* variable) {
    auto raw = Find(option, optionName, key, variable);
    if (!raw) return;
    std::optional<long> ms;
    if (raw->origin.source == Source::Variable) {
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(raw->text.c_str(), &end, 10);
      if (end && *end == '\0' && errno == 0 && n > 0) ms = n;
    } else {
      ms = ParseDurationMs(raw->text);
    }
    if (!ms) {
      Error(raw->origin.where + ": \"" + raw->text + "\" is no duration; " +
            (raw->origin.source == Source::Variable
                 ? "give a number of milliseconds"
                 : "give seconds (90 or 90s), milliseconds (500ms) or minutes (2m)"));
      return;
    }
    s = {*ms, raw->origin};
  }

  const ConfigOptions& options_;
  const Environment& env_;
  ConfigResult& result_;
  Config& config_;
  std::map<std::string, ConfigLine> file_;
  std::vector<std::pair<int, std::string>>* lineErrors_ = nullptr;
};

void Row(std::ostream& out, const std::string& key, const std::string& value,
         const std::string& origin) {
  out << "  " << std::left << std::setw(15) << key << std::setw(44)
      << (value.empty() ? "(none)" : value) << ' ' << origin << '\n';
}

}  // namespace

Environment ProcessEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* v = std::getenv(name.c_str());
    if (!v || !*v) return std::nullopt;
    return std::string(v);
  };
}

std::string Origin::Describe() const {
  switch (source) {
    case Source::Option:
      return "option " + where;
    case Source::File:
      return "file " + where;
    case Source::Variable:
      return "variable " + where;
    case Source::Default:
      break;
  }
  return where.empty() ? "default" : "default (from " + where + ")";
}

std::string UserConfigFile(const Environment& env) {
  return JoinPath(ConfigPlace(env).path, "oa-cleanup.conf");
}

ConfigResult LoadConfig(const ConfigOptions& options, const Environment& env, bool readFile) {
  ConfigResult result;
  Loader loader(options, env, result);
  loader.ReadFile(readFile);
  loader.Fill();
  return result;
}

void PrintConfig(const Config& c, std::ostream& out) {
  out << "Configuration file: " << c.file << (c.fileFound ? "" : " (not found)") << '\n';
  const EwsConfig& e = c.ews;
  out << "[ews]\n";
  Row(out, "access", e.impersonate.value ? "impersonate" : "delegate",
      e.impersonate.origin.Describe());
  Row(out, "user", e.user.value, e.user.origin.Describe());
  Row(out, "password-file", e.passwordFile.value, e.passwordFile.origin.Describe());
  std::string from;
  if (e.password.value.empty()) {
    from = e.user.value.empty() ? kPasswordWithoutUser : kPasswordWithUser;
  } else if (e.password.origin.source == Source::Variable) {
    from = "variable OA_EWS_PASSWORD (from the environment; a password file is safer)";
  } else {
    from = "the password file";
  }
  Row(out, "password", e.password.value.empty() ? "not set" : "set", from);
  Row(out, "ca-file", e.caFile.value.empty() ? "(the system's certificates)" : e.caFile.value,
      e.caFile.origin.Describe());
  Row(out, "timeout", FormatDurationMs(e.timeoutMs.value), e.timeoutMs.origin.Describe());
  Row(out, "max-wait", FormatDurationMs(e.maxWaitMs.value), e.maxWaitMs.origin.Describe());
  std::error_code ec;
  // Windows has no netrc file.
  if (!e.netrcFile.empty()) {
    Row(out, "netrc",
        e.netrcFile +
            (std::filesystem::exists(PathFromUtf8(e.netrcFile), ec) ? "" : " (not found)"),
        "default");
  }
  const GraphConfig& g = c.graph;
  out << "[graph]\n";
  Row(out, "tenant", g.tenant.value, g.tenant.origin.Describe());
  Row(out, "client-id", g.clientId.value, g.clientId.origin.Describe());
  Row(out, "certificate", g.certificate.value, g.certificate.origin.Describe());
  Row(out, "key",
      g.key.value.empty() && !g.certificate.value.empty() ? "(in the certificate file)"
                                                          : g.key.value,
      g.key.origin.Describe());
  if (!g.certificateThumbprint.value.empty())
    Row(out, "certificate-thumbprint", g.certificateThumbprint.value,
        g.certificateThumbprint.origin.Describe());
  Row(out, "secret-file", g.secretFile.value, g.secretFile.origin.Describe());
  Row(out, "secret", g.secret.value.empty() ? "not set" : "set",
      g.secret.value.empty() ? "default" : "the secret file");
  Row(out, "login-url", g.loginUrl.value, g.loginUrl.origin.Describe());
  Row(out, "graph-url", g.graphUrl.value, g.graphUrl.origin.Describe());
  Row(out, "max-wait", FormatDurationMs(g.maxWaitMs.value), g.maxWaitMs.origin.Describe());
  out << "[store]\n";
  Row(out, "directory", c.storeDirectory.value, c.storeDirectory.origin.Describe());
  out << "[registry]\n";
#ifdef _WIN32
  // Windows has its registry: the export files named for other systems are not read.
  Row(out, "user", std::string("HKEY_CURRENT_USER\\") + kAdminKeyPath,
      "the registry (32-bit view)");
  Row(out, "machine", std::string("HKEY_LOCAL_MACHINE\\") + kAgentKeyPath,
      "the registry (32-bit view)");
#else
  Row(out, "user", c.registryUser.value, c.registryUser.origin.Describe());
  Row(out, "machine", c.registryMachine.value, c.registryMachine.origin.Describe());
#endif
}

RegistryFiles RegistryFilesOf(const Config& config) {
  return {config.registryUser.value, config.registryMachine.value};
}

std::optional<long> ParseDurationMs(const std::string& text) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return std::nullopt;
  const long n = std::stol(text.substr(0, digits));
  std::string unit = text.substr(digits);
  while (!unit.empty() && unit.front() == ' ') unit.erase(0, 1);
  long ms = 0;
  if (unit.empty() || unit == "s") {
    ms = n * 1000;
  } else if (unit == "ms") {
    ms = n;
  } else if (unit == "m" || unit == "min") {
    ms = n * 60000;
  } else {
    return std::nullopt;
  }
  if (ms <= 0) return std::nullopt;
  return ms;
}

std::string FormatDurationMs(long ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + "s" : std::to_string(ms) + "ms";
}

}  // namespace oa::settings
