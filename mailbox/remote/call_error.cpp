#include "mailbox/remote/call_error.h"

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::remote {

using namespace oa::mailbox::ConstMAPI;

Party PartyNamed(const std::string& name) {
  return {name, name, "The answer from " + name};
}

Party TheServer() {
  return {"the server", "The server", "The server's answer"};
}

CallError TransportError(const http::HttpResult& r, const Party& who) {
  using http::Failure;
  const std::string& text = r.failureText;
  switch (r.failure) {
    case Failure::TlsVerify:
      return {MAPI_E_NETWORK_ERROR,
              who.subject + "'s TLS certificate could not be verified: " + text};
    case Failure::Tls:
      return {MAPI_E_NETWORK_ERROR, "The TLS connection to " + who.name + " failed: " + text};
    case Failure::Timeout:
      return {MAPI_E_NETWORK_ERROR, who.subject + " did not answer in time: " + text};
    case Failure::Unreachable:
      return {MAPI_E_NETWORK_ERROR, who.subject + " cannot be reached: " + text};
    case Failure::Dropped:
      return {MAPI_E_NETWORK_ERROR, "The connection to " + who.name + " was lost: " + text};
    case Failure::LoginDenied:
      return {MAPI_E_LOGON_FAILED, who.subject + " refused the logon: " + text};
    case Failure::TooLarge:
      return {MAPI_E_CALL_FAILED, who.answer + " was refused: " + text + "."};
    case Failure::Cancelled:
      return {MAPI_E_USER_CANCEL, "The request to " + who.name + " was cancelled."};
    default:
      return {MAPI_E_NETWORK_ERROR, "The request to " + who.name + " failed: " + text};
  }
}

void Raise(const CallError& e) {
  oa::Err().Raise(e.number, e.description);
}

}  // namespace oa::remote
