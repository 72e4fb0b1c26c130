#include "console/options.h"

#include <CLI/CLI.hpp>
#include <cstring>

#include "console/activity_log.h"
#include "settings/places.h"

namespace oa::console {
namespace {

void AddConfigOptions(CLI::App& app, settings::ConfigOptions& config) {
  auto text = [&app](const char* name, std::optional<std::string>& into, const char* type,
                     const std::string& help) {
    return app
        .add_option_function<std::string>(
            name, [&into](const std::string& v) { into = v; }, help)
        ->type_name(type);
  };
  text("--config", config.configFile, "FILE",
       std::string("Configuration file instead of ") + settings::kConfigFileShown);
  text("--user", config.user, "NAME", "Exchange account for NTLM and Basic (DOMAIN\\user or UPN)");
  text("--password-file", config.passwordFile, "FILE",
       std::string("Read the account's password from FILE, which only its owner may read (") +
           settings::kOwnerOnlyHint + ")");
  text("--ca-file", config.caFile, "FILE",
       settings::kCaFileRefused
           ? "Not on Windows: the server's certificate is checked against the Windows "
             "certificate store"
           : "Trust the certificates in FILE (PEM) for the server");
  CLI::Option* impersonate = app.add_flag_callback(
      "--impersonate", [&config] { config.impersonate = true; },
      "Act as each mailbox by impersonation (needs the ApplicationImpersonation role)");
  app.add_flag_callback(
         "--delegate", [&config] { config.impersonate = false; },
         "Open each mailbox by delegate access (full access to it), the default")
      ->excludes(impersonate);
  text("--timeout", config.timeout, "SECONDS", "Longest wait for one answer of the server");
  text("--max-wait", config.maxWait, "SECONDS",
       "Longest wait in all for a busy (throttling) server on one call");
  text("--store-dir", config.storeDirectory, "DIR",
       "Directory in which a server NAME is the store file NAME.oastore");
  text("--graph-tenant", config.graphTenant, "TENANT",
       "Exchange Online (server graph): the directory (tenant) ID or domain");
  text("--graph-client-id", config.graphClientId, "ID",
       "Exchange Online: the registered application's (client) ID");
  text("--graph-certificate", config.graphCertificate, "FILE",
       "Exchange Online: sign in with the certificate in FILE (PEM), the preferred way");
  text("--graph-key", config.graphKey, "FILE",
       "Exchange Online: the certificate's private key (PEM), when not in its file");
  text("--graph-certificate-thumbprint", config.graphCertificateThumbprint, "SHA1",
       "Exchange Online on Windows: sign in with the certificate of this thumbprint in the "
       "user's or the machine's certificate store");
  text("--graph-secret-file", config.graphSecretFile, "FILE",
       "Exchange Online: sign in with the client secret in FILE (readable by its owner only)");
}

// A password never goes on the command line, where every user of the machine can read it.
bool RefusesPasswordOption(int argc, const char* const* argv, std::ostream& err) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) return false;
    if (std::strcmp(a, "--password") == 0 || std::strncmp(a, "--password=", 11) == 0) {
      err << "oa-cleanup: a password is not taken on the command line, where other users can "
             "see it; use --password-file FILE (readable by its owner only), "
          << settings::kOtherPasswordSources << "\n";
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<int> ParseOptions(int argc, const char* const* argv, Options& options,
                                std::ostream& out, std::ostream& err) {
  if (RefusesPasswordOption(argc, argv, err)) return 2;
  CLI::App app{"ondavel Agent Cleanup: replaces the Handhelds folder of one mailbox.",
               "oa-cleanup"};
  app.set_version_flag("--version", OA_VERSION);
  // "/tmp/x.oastore" is a path, never a Windows-style option.
  app.allow_windows_style_options(false);
  std::string logPath;
  app.add_option("--log", logPath,
                 std::string("Activity log file (default: OA-Cleanup.log in the program's "
                             "directory, else in ") +
                     settings::kLogPlaceShown + " where that one cannot be written)")
      ->type_name("FILE");
  app.add_flag("--check-registry", options.checkRegistry,
               "Print the registry sources read for the default server and mailbox, then exit");
  app.add_flag("--check-config", options.checkConfig,
               "Print every connection setting, its value and where it came from, then exit");
  AddConfigOptions(app, options.config);
  nowindow::AddNoWindowOptions(app, options.noWindow);
  if (*settings::kHelpNotes) app.footer(settings::kHelpNotes);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Usage errors end with status 2 and CLI11's one-line hint.
    const int status = app.exit(e, out, err);
    return status == 0 ? 0 : 2;
  }
  options.logPath = logPath.empty() ? ActivityLog::DefaultPath() : logPath;
  options.noWindow.logFile = options.logPath;
  return std::nullopt;
}

}  // namespace oa::console
