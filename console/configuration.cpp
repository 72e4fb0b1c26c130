#include "console/configuration.h"

#include <algorithm>

#include "base/credential_target.h"
#include "base/platform.h"
#include "base/secret_file.h"
#include "console/nowindow/cancel_signals.h"
#include "settings/password.h"
#include "settings/stored_credential.h"

namespace oa::console {
namespace {

// Names where the credentials come from, for the message of a refused logon.
std::string CredentialsFrom(const settings::EwsConfig& e, bool asks) {
  using settings::Source;
  const bool scripted = e.user.origin.source != Source::Option &&
                        e.user.origin.source != Source::File &&
                        (e.password.value.empty() || e.password.origin.source == Source::Variable);
  if (scripted) return "OA_EWS_USER and OA_EWS_PASSWORD";
  if (e.user.value.empty()) return "a user (--user) and its password";
  const std::string user = e.user.origin.source == Source::File
                               ? "the user in " + e.user.origin.where
                               : e.user.origin.where;
  std::string password = asks ? "the password typed" : "a password (none is set)";
  if (!e.passwordFile.value.empty())
    password = "the password file " + e.passwordFile.value;
  else if (!e.password.value.empty())
    password = "OA_EWS_PASSWORD";
  return user + " and " + password;
}

// The same account, whatever the letter case ("EXAMPLE\svc", "example\SVC").
bool SameAccount(const std::string& a, const std::string& b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// The logon the system keeps for a server (Credential Manager), taken when the configuration
// gives no password: with the configured user only when it names that user, since a password
// kept for another account is not sent for this one.
std::optional<ews::EwsOptions::StoredLogon> StoredLogonFor(const std::string& configuredUser,
                                                           const std::string& host) {
  std::optional<settings::StoredCredential> stored = settings::ReadStoredCredential(host);
  if (!stored) return std::nullopt;
  if (!configuredUser.empty() && !SameAccount(stored->user, configuredUser)) {
    WipeSecret(stored->password);
    return std::nullopt;
  }
  ews::EwsOptions::StoredLogon logon{configuredUser.empty() ? stored->user : configuredUser,
                                     std::move(stored->password), CredentialManagerEntry(host)};
  WipeSecret(stored->password);
  return logon;
}

}  // namespace

mailbox::BackendOptions BackendOptionsFor(
    const settings::Config& config,
    std::function<std::optional<std::string>(const std::string& user)> askPassword) {
  mailbox::BackendOptions o;
  const settings::EwsConfig& e = config.ews;
  o.ews.impersonate = e.impersonate.value;
  o.ews.user = e.user.value;
  o.ews.password = e.password.value;
  o.ews.caFile = e.caFile.value;
  o.ews.netrcFile = e.netrcFile;
  o.ews.timeoutMs = e.timeoutMs.value;
  o.ews.maxWaitMs = e.maxWaitMs.value;
  o.ews.credentialsFrom = CredentialsFrom(e, static_cast<bool>(askPassword));
  o.ews.askPassword = std::move(askPassword);
  if (settings::kHaveCredentialStore && e.password.value.empty()) {
    o.ews.storedLogon = [user = e.user.value](const std::string& host) {
      return StoredLogonFor(user, host);
    };
  }
  const settings::GraphConfig& g = config.graph;
  o.graph.tenant = g.tenant.value;
  o.graph.clientId = g.clientId.value;
  o.graph.certFile = g.certificate.value;
  o.graph.keyFile = g.key.value;
  o.graph.certThumbprint = g.certificateThumbprint.value;
  o.graph.clientSecret = g.secret.value;
  o.graph.loginUrl = g.loginUrl.value;
  o.graph.graphUrl = g.graphUrl.value;
  o.graph.caFile = e.caFile.value;
  o.graph.timeoutMs = e.timeoutMs.value;
  o.graph.maxWaitMs = g.maxWaitMs.value;
  o.storeDirectory = config.storeDirectory.value;
  return o;
}

std::optional<int> Configure(const settings::ConfigOptions& options, bool checkConfig,
                             bool askOnTerminal, const std::string& logPath, std::ostream& out,
                             std::ostream& err, Configured& configured) {
  const settings::ConfigResult result =
      settings::LoadConfig(options, settings::ProcessEnvironment());
  if (checkConfig) {
    settings::PrintConfig(result.config, out);
    out << "Activity log: " << logPath << '\n';
  }
  for (const std::string& e : result.errors) err << "oa-cleanup: " << e << "\n";
  if (!result.ok()) return 2;
  if (checkConfig) return 0;

  std::function<std::optional<std::string>(const std::string&)> ask;
  if (askOnTerminal && IsTerminal(0)) {
    ask = [](const std::string& user) {
      return settings::PromptPassword("Password for " + user + ": ",
                                      &nowindow::CancelSignalPending);
    };
  }
  configured.backends = BackendOptionsFor(result.config, std::move(ask));
  configured.registry = settings::RegistryFilesOf(result.config);
  return std::nullopt;
}

}  // namespace oa::console
