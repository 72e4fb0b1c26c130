#include "tests/ews/server_auth.h"

#include <algorithm>

#include "mailbox/ews/props.h"

namespace oa::ews::testing {

ServerAuth::ServerAuth(const ServerOptions& options) : options_(options) {
  if (Offers(AuthScheme::Negotiate))
    negotiate_ = std::make_unique<NegotiateAcceptor>(options_.keytab);
}

bool ServerAuth::Offers(AuthScheme scheme) const {
  return std::find(options_.offer.begin(), options_.offer.end(), scheme) != options_.offer.end();
}

void ServerAuth::Challenge(httplib::Response& res) const {
  res.status = 401;
  for (AuthScheme scheme : options_.offer) {
    res.set_header("WWW-Authenticate", scheme == AuthScheme::Basic       ? "Basic realm=\"EWS\""
                                       : scheme == AuthScheme::Negotiate ? "Negotiate"
                                                                         : "NTLM");
  }
}

bool ServerAuth::Authenticate(const httplib::Request& req, httplib::Response& res, SeenRequest& s) {
  const std::string& header = s.authorization;
  const size_t blank = header.find(' ');
  const std::string scheme = header.substr(0, blank);
  const std::string value = blank == std::string::npos ? "" : header.substr(blank + 1);
  Connection& connection = connections_[{req.ssl, req.remote_port}];
  if (header.empty() && !connection.scheme.empty()) {
    s.scheme = connection.scheme;
    s.principal = connection.principal;
    return true;
  }
  const std::optional<NtlmChallenge> pending = connection.challenge;
  const int rounds = connection.rounds;
  connection = {};
  if (rounds >= kMaxRounds) {
    connection.rounds = rounds;
    s.refusal = "too many authentication rounds";
    res.status = 403;
    res.set_content("Too many authentication rounds on this connection", "text/plain");
    return false;
  }
  if (scheme == "Basic" && Offers(AuthScheme::Basic)) {
    const std::string credentials = options_.user + ":" + options_.password;
    if (value == Base64Encode(std::vector<uint8_t>(credentials.begin(), credentials.end()))) {
      s.scheme = "Basic";
      s.principal = options_.user;
      return true;
    }
    s.refusal = "wrong user or password";
  } else if (scheme == "Negotiate" && Offers(AuthScheme::Negotiate)) {
    NegotiateVerdict v = negotiate_->Accept(Base64Decode(value).value_or(std::vector<uint8_t>{}));
    if (v.complete) {
      // The mutual authentication token goes back with the answer.
      if (!v.output.empty())
        res.set_header("WWW-Authenticate", "Negotiate " + Base64Encode(v.output));
      connection.scheme = s.scheme = "Negotiate";
      connection.principal = s.principal = v.principal;
      return true;
    }
    s.refusal = v.why;
  } else if (scheme == "NTLM" && Offers(AuthScheme::Ntlm)) {
    const std::vector<uint8_t> message = Base64Decode(value).value_or(std::vector<uint8_t>{});
    NtlmChallenge challenge{};
    if (auto type2 = NtlmChallengeFor(message, &challenge)) {
      connection.challenge = challenge;
      connection.rounds = rounds + 1;
      res.status = 401;
      res.set_header("WWW-Authenticate", "NTLM " + Base64Encode(*type2));
      return false;
    }
    NtlmVerdict v;
    v.why = "no challenge on this connection";
    if (pending) v = NtlmVerify(message, *pending, options_.user, options_.password);
    if (v.ok) {
      connection.scheme = s.scheme = "NTLM";
      connection.principal = s.principal = v.user;
      return true;
    }
    s.refusal = v.why;
  } else if (!header.empty()) {
    s.refusal = "scheme not offered";
  }
  connection.rounds = rounds + 1;
  Challenge(res);
  return false;
}

}  // namespace oa::ews::testing
