// One EWS conversation: requests sent over the session's kept-alive connection, throttling
// waited out, transport and HTTP failures turned into MAPI-style errors on Err().
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mailbox/ews/ews_options.h"
#include "mailbox/ews/soap.h"
#include "mailbox/http/transport.h"
#include "mailbox/remote/call_error.h"
#include "mailbox/remote/retry.h"
#include "mailbox/remote/waiter.h"

namespace oa::ews {

using http::HttpResult;
using http::Transport;
using http::TransportOptions;

struct ClientOptions {
  std::string url;
  // Primary SMTP address to impersonate (ExchangeImpersonation and X-AnchorMailbox), or empty
  // for delegate access.
  std::string impersonate;
  // The longest one call waits for a throttled server in all.
  std::chrono::milliseconds maxWait{std::chrono::minutes(5)};
  long connectTimeoutMs = 30000;
  long timeoutMs = 120000;
  // Credentials, trusted certificates and the netrc file, as in EwsOptions.
  std::string user, password, caFile, netrcFile;
  std::string credentialsFrom = "OA_EWS_USER and OA_EWS_PASSWORD";
};

// The client options for a service URL from the backend's settings (impersonation is switched
// on after the mailbox's address is known).
ClientOptions ClientOptionsFor(const std::string& url, const EwsOptions& settings);

using remote::CallError;
// A transport failure as the error a mailbox call raises.
CallError ErrorForTransport(const HttpResult& r);

class Client {
 public:
  // Its waits for a busy server go through `waiter` (none: they only sleep).
  explicit Client(ClientOptions options, std::shared_ptr<remote::Waiter> waiter = nullptr);

  // A request for an operation, with the impersonation header when configured.
  std::unique_ptr<Request> NewRequest(const std::string& operation) const;

  // Sends the request and waits out throttling. The response (whose messages may still report
  // errors) or nullopt with the error raised on Err(). A SOAP fault is raised as an error.
  std::optional<Response> Call(const Request& request);

  // Called while waiting; a true answer ends the wait and the call with MAPI_E_END_OF_SESSION.
  void SetStopCheck(std::function<bool()> stop) { retry_.SetStopCheck(std::move(stop)); }

  // Acts as that mailbox from now on (impersonation); empty for delegate access.
  void SetImpersonation(const std::string& smtp);

  const ClientOptions& options() const { return options_; }
  long requestsSent() const { return requests_; }
  long connectsMade() const { return transport_.connectsMade(); }
  // At logoff: the server's connection is not held for objects that outlive the session.
  void Disconnect() { transport_.Close(); }

 private:
  class Tries;

  ClientOptions options_;
  Transport transport_;
  remote::Retry retry_;
  long requests_ = 0;
};

// Raises the first message's error on Err() and returns false when it is no success.
bool FirstOk(const Response& response);
// Raises the error of one response message.
void RaiseMessage(const ResponseMessage& m);

}  // namespace oa::ews
