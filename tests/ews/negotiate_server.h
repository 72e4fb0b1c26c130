// The server's half of Negotiate (SPNEGO/Kerberos) for the loopback EWS server: GSS-API's
// acceptor with the service key from a keytab file.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace oa::ews::testing {

struct NegotiateVerdict {
  bool complete = false;        // the client is authenticated
  std::string principal;        // who, once complete ("jdoe@OA.TEST")
  std::vector<uint8_t> output;  // the token to send back, if any
  std::string why;              // GSS-API's text when refused
};

class NegotiateAcceptor {
 public:
  // The service keys are read from `keytab` only, whatever the process's environment says.
  explicit NegotiateAcceptor(const std::string& keytab);
  ~NegotiateAcceptor();
  NegotiateAcceptor(const NegotiateAcceptor&) = delete;
  NegotiateAcceptor& operator=(const NegotiateAcceptor&) = delete;

  // One request's token. Each request is a context of its own: Kerberos needs one leg.
  NegotiateVerdict Accept(const std::vector<uint8_t>& token);

 private:
  struct Cred;
  std::unique_ptr<Cred> cred_;
  std::string error_;
};

}  // namespace oa::ews::testing
