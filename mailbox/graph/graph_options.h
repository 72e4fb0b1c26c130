// The Graph backend's settings, given by the program at start-up to the session class it
// registers; sessions take them at logon.
#pragma once

#include <cctype>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace oa::graph {

struct GraphOptions {
  // The directory (tenant) ID or a verified domain; "graph:TENANT" overrides it per logon.
  std::string tenant;
  // The application (client) ID of the app registration.
  std::string clientId;
  // Sign-in with a certificate (preferred): its PEM file and the private key's PEM file (the
  // same file when both are in one). Otherwise the client secret itself.
  std::string certFile;
  std::string keyFile;
  // Windows: the certificate's SHA-1 thumbprint in the user's or the machine's store instead.
  std::string certThumbprint;
  std::string clientSecret;
  // Where tokens and Graph are asked; tests point both at a loopback server.
  std::string loginUrl = "https://login.microsoftonline.com";
  std::string graphUrl = "https://graph.microsoft.com";
  std::string caFile;
  long timeoutMs = 120000;
  long maxWaitMs = 600000;
  // The mailbox's request budget the emptying paces itself to: this many requests per window
  // (Exchange Online's: 10,000 per 10 minutes); 0 paces nothing. Tests scale it down.
  int64_t budgetRequests = 10000;
  std::chrono::milliseconds budgetWindow{std::chrono::minutes(10)};
  // The clock token lifetimes are measured with; empty: the steady clock. Tests move it on.
  std::function<std::chrono::steady_clock::time_point()> now;
};

// "graph" or "graph:TENANT", in any letter case: the tenant given ("" for the configured one).
// Inline: the backend choice asks it in builds without this backend too.
inline std::optional<std::string> GraphServerTenant(const std::string& server) {
  std::string head = server.substr(0, 5);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (head != "graph") return std::nullopt;
  if (server.size() == 5) return std::string();
  if (server[5] != ':' || server.size() == 6) return std::nullopt;
  return server.substr(6);
}

}  // namespace oa::graph
