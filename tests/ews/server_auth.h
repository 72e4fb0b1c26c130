// How the loopback EWS server authenticates a request: Basic on every request; NTLM and
// Negotiate once per connection, as IIS does, so that later requests on it need no header.
#pragma once

#include <httplib.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "tests/ews/ews_test_server.h"
#include "tests/ews/negotiate_server.h"
#include "tests/ews/ntlm_server.h"

namespace oa::ews::testing {

class ServerAuth {
 public:
  explicit ServerAuth(const ServerOptions& options);

  // Whether the request may pass, with s.authorization read already; fills s.scheme,
  // s.principal and s.refusal. When not, res holds the 401 to send.
  bool Authenticate(const httplib::Request& req, httplib::Response& res, SeenRequest& s);
  // A 401 offering the configured schemes.
  void Challenge(httplib::Response& res) const;

 private:
  bool Offers(AuthScheme scheme) const;

  // What NTLM and Negotiate left on a connection: a pending NTLM challenge, or who it is.
  struct Connection {
    std::optional<NtlmChallenge> challenge;
    std::string scheme, principal;
    // 401s sent on it: past kMaxRounds the server refuses with a 403, which no client answers
    // with another attempt (some would go round without end).
    int rounds = 0;
  };
  static constexpr int kMaxRounds = 8;
  const ServerOptions& options_;
  std::unique_ptr<NegotiateAcceptor> negotiate_;
  // By TLS session and client port: together they tell one connection from the next.
  std::map<std::pair<const void*, int>, Connection> connections_;
};

}  // namespace oa::ews::testing
