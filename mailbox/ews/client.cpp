#include "mailbox/ews/client.h"

#include <algorithm>

#include "base/backoff.h"
#include "base/credential_target.h"
#include "base/mapi_error.h"
#include "base/url_origin.h"
#include "mailbox/ews/core.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;
using std::chrono::milliseconds;

namespace {

TransportOptions TransportFor(const ClientOptions& o) {
  TransportOptions t;
  t.url = o.url;
  t.connectTimeoutMs = o.connectTimeoutMs;
  t.timeoutMs = o.timeoutMs;
  t.user = o.user;
  t.password = o.password;
  t.caFile = o.caFile;
  t.netrcFile = o.netrcFile;
  if (!o.impersonate.empty()) t.headers.push_back("X-AnchorMailbox: " + o.impersonate);
  return t;
}

std::string HttpStatusText(long status) {
  switch (status) {
    case 400:
      return "400 Bad Request";
    case 403:
      return "403 Forbidden";
    case 404:
      return "404 Not Found";
    case 500:
      return "500 Internal Server Error";
    case 503:
      return "503 Service Unavailable";
    default:
      return std::to_string(status);
  }
}

// Where else a logon's credentials come from, after those configured, for the message of a
// refused logon: the netrc file and the Kerberos ticket, or on Windows the server's credential
// in Credential Manager and the user's own Windows logon.
std::string OtherCredentials(const ClientOptions& o) {
#ifdef _WIN32
  const std::optional<UrlOrigin> origin = OriginOf(o.url);
  const std::string stored = CredentialManagerEntry(origin ? origin->host : "SERVER");
  if (o.credentialsFrom == stored) return ", or the Windows logon.";
  return " or " + stored + ", or the Windows logon.";
#else
  (void)o;
  return " or ~/.netrc, or the Kerberos ticket.";
#endif
}

}  // namespace

ClientOptions ClientOptionsFor(const std::string& url, const EwsOptions& settings) {
  ClientOptions o;
  o.url = url;
  o.timeoutMs = settings.timeoutMs;
  o.connectTimeoutMs = std::min(o.connectTimeoutMs, o.timeoutMs);
  o.maxWait = milliseconds(settings.maxWaitMs);
  o.user = settings.user;
  o.password = settings.password;
  o.caFile = settings.caFile;
  o.netrcFile = settings.netrcFile;
  o.credentialsFrom = settings.credentialsFrom;
  return o;
}

CallError ErrorForTransport(const HttpResult& r) {
  return remote::TransportError(r, remote::TheServer());
}

Client::Client(ClientOptions options, std::shared_ptr<remote::Waiter> waiter)
    : options_(std::move(options)),
      transport_(TransportFor(options_)),
      // One gate for every client of the process (every Exchange server it talks to).
      retry_(remote::GateFor("ews"), std::move(waiter)) {
  // A request in flight ends on the same checks as a wait.
  transport_.SetCancelCheck([this] { return retry_.RequestCancelled(); });
}

void Client::SetImpersonation(const std::string& smtp) {
  options_.impersonate = smtp;
  transport_.SetHeaders(TransportFor(options_).headers);
}

std::unique_ptr<Request> Client::NewRequest(const std::string& operation) const {
  return std::make_unique<Request>(operation, options_.impersonate);
}

// One request to the server: its answers as the retry loop reads them.
class Client::Tries : public remote::Tries {
 public:
  Tries(Client& client, const Request& request) : client_(client), body_(request.Serialize()) {}

  std::optional<Response> response;

  std::string GateStayedBusy() const override { return "The server stayed busy."; }
  void RaiseStayedBusy(const std::string& busyText) override {
    Err().Raise(MAPI_E_CALL_FAILED,
                busyText.empty() ? std::string("The server stayed busy.") : busyText);
  }

  remote::Try Once() override {
    using remote::Try;
    ++client_.requests_;
    HttpResult r = client_.transport_.Post(body_);
    // A connection that broke off before the answer is tried once more on a new one: the
    // operations this backend sends may be repeated (a repeated delete finds nothing to delete).
    if (r.failure == http::Failure::Dropped && !retriedDrop_) {
      retriedDrop_ = true;
      return Try::Again();
    }
    if (!r.answered()) {
      remote::Raise(ErrorForTransport(r));
      return Try::Failed();
    }
    if (r.status == 401) {
      Err().Raise(MAPI_E_LOGON_FAILED,
                  "The server refused the logon (HTTP 401 Unauthorized); check the credentials "
                  "in " +
                      client_.options_.credentialsFrom + OtherCredentials(client_.options_));
      return Try::Failed();
    }
    if (r.status == 503)
      return Try::Busy(backoff::ParseRetryAfter(r.retryAfter, std::chrono::system_clock::now()),
                       "The server is busy (HTTP 503 Service Unavailable).");
    std::string error;
    response = ParseResponse(r.body, &error);
    if (!response) {
      Err().Raise(
          MAPI_E_CALL_FAILED,
          r.status == 200 ? error : "HTTP " + HttpStatusText(r.status) + " from the server.");
      return Try::Failed();
    }
    const ResponseMessage& first = response->messages.front();
    if (IsThrottlingCode(first.code)) {
      std::optional<milliseconds> hint;
      if (first.backOffMs && *first.backOffMs >= 0) hint = milliseconds(*first.backOffMs);
      return Try::Busy(hint, first.text);
    }
    if (response->fault) {
      RaiseMessage(first);
      return Try::Failed();
    }
    return Try::Done();
  }

 private:
  Client& client_;
  const std::string body_;
  bool retriedDrop_ = false;
};

std::optional<Response> Client::Call(const Request& request) {
  Tries tries(*this, request);
  if (!retry_.Run(options_.maxWait, tries)) return std::nullopt;
  return std::move(tries.response);
}

void RaiseMessage(const ResponseMessage& m) {
  std::string text = m.text.empty() ? m.code : m.text;
  Err().Raise(MapiErrorForCode(m.code), text);
}

bool FirstOk(const Response& response) {
  const ResponseMessage& m = response.messages.front();
  if (m.ok()) return true;
  RaiseMessage(m);
  return false;
}

}  // namespace oa::ews
