#include "mailbox/ews/client.h"

#include <algorithm>
#include <mutex>

#include "base/backoff.h"
#include "base/credential_target.h"
#include "base/mapi_error.h"
#include "base/url_origin.h"
#include "mailbox/ews/core.h"
#include "mailbox/ews/wait_hook.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;
using oa::mailbox::Err;
using std::chrono::milliseconds;

namespace {

// One back-off for every client of the process: when the server tells one job of a parallel
// batch to wait, all of them wait, instead of the others pressing on and being throttled too.
struct SharedBackOff {
  std::mutex mu;
  std::chrono::steady_clock::time_point until{};
};

SharedBackOff& BackOff() {
  static SharedBackOff b;
  return b;
}

std::chrono::steady_clock::time_point BusyUntil() {
  std::lock_guard lock(BackOff().mu);
  return BackOff().until;
}

void NoteBusyUntil(std::chrono::steady_clock::time_point until) {
  std::lock_guard lock(BackOff().mu);
  BackOff().until = std::max(BackOff().until, until);
}

void EndSharedBackOff() {
  std::lock_guard lock(BackOff().mu);
  BackOff().until = {};
}

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
  using http::Failure;
  const std::string& text = r.failureText;
  switch (r.failure) {
    case Failure::TlsVerify:
      return {MAPI_E_NETWORK_ERROR, "The server's TLS certificate could not be verified: " + text};
    case Failure::Tls:
      return {MAPI_E_NETWORK_ERROR, "The TLS connection to the server failed: " + text};
    case Failure::Timeout:
      return {MAPI_E_NETWORK_ERROR, "The server did not answer in time: " + text};
    case Failure::Unreachable:
      return {MAPI_E_NETWORK_ERROR, "The server cannot be reached: " + text};
    case Failure::Dropped:
      return {MAPI_E_NETWORK_ERROR, "The connection to the server was lost: " + text};
    case Failure::LoginDenied:
      return {MAPI_E_LOGON_FAILED, "The server refused the logon: " + text};
    case Failure::TooLarge:
      return {MAPI_E_CALL_FAILED, "The server's answer was refused: " + text + "."};
    case Failure::Cancelled:
      return {MAPI_E_USER_CANCEL, "The request to the server was cancelled."};
    default:
      return {MAPI_E_NETWORK_ERROR, "The request to the server failed: " + text};
  }
}

Client::Client(ClientOptions options)
    : options_(std::move(options)), transport_(TransportFor(options_)) {
  // A request in flight ends on the same checks as a wait.
  transport_.SetCancelCheck([this] { return (stop_ && stop_()) || CancelRequested(); });
}

void Client::SetImpersonation(const std::string& smtp) {
  options_.impersonate = smtp;
  transport_.SetHeaders(TransportFor(options_).headers);
}

std::unique_ptr<Request> Client::NewRequest(const std::string& operation) const {
  return std::make_unique<Request>(operation, options_.impersonate);
}

std::optional<Response> Client::Call(const Request& request) {
  using clock = std::chrono::steady_clock;
  backoff::BackOff backOff(options_.maxWait, clock::now());
  const std::string body = request.Serialize();
  bool retriedDrop = false;
  while (true) {
    if (const auto busy = BusyUntil() - clock::now(); busy > clock::duration::zero()) {
      const auto wait = std::chrono::ceil<milliseconds>(busy);
      if (!backOff.Fits(wait, clock::now())) {
        Err().Raise(MAPI_E_CALL_FAILED, "The server stayed busy.");
        return std::nullopt;
      }
      if (!WaitWithEvents(wait, stop_)) {
        Err().Raise(MAPI_E_END_OF_SESSION, "The session was logged off while the server was busy.");
        return std::nullopt;
      }
    }
    ++requests_;
    HttpResult r = transport_.Post(body);
    // A connection that broke off before the answer is tried once more on a new one: the
    // operations this backend sends may be repeated (a repeated delete finds nothing to delete).
    const bool dropped = r.failure == http::Failure::Dropped;
    if (dropped && !retriedDrop) {
      retriedDrop = true;
      continue;
    }
    if (!r.answered()) {
      CallError e = ErrorForTransport(r);
      Err().Raise(e.number, e.description);
      return std::nullopt;
    }
    if (r.status == 401) {
      Err().Raise(MAPI_E_LOGON_FAILED,
                  "The server refused the logon (HTTP 401 Unauthorized); check the credentials "
                  "in " +
                      options_.credentialsFrom + OtherCredentials(options_));
      return std::nullopt;
    }
    std::optional<milliseconds> hint;
    std::string busyText;
    std::optional<Response> response;
    if (r.status == 503) {
      hint = backoff::ParseRetryAfter(r.retryAfter, std::chrono::system_clock::now());
      busyText = "The server is busy (HTTP 503 Service Unavailable).";
    } else {
      std::string error;
      response = ParseResponse(r.body, &error);
      if (!response) {
        Err().Raise(
            MAPI_E_CALL_FAILED,
            r.status == 200 ? error : "HTTP " + HttpStatusText(r.status) + " from the server.");
        return std::nullopt;
      }
      const ResponseMessage& first = response->messages.front();
      if (IsThrottlingCode(first.code)) {
        if (first.backOffMs && *first.backOffMs >= 0) hint = milliseconds(*first.backOffMs);
        busyText = first.text;
      } else if (response->fault) {
        RaiseMessage(first);
        return std::nullopt;
      } else {
        return response;
      }
    }
    // Throttled: wait and send the same request again, within the call's budget. Our own
    // guesses grow while the server gives no usable hint of its own.
    const milliseconds wait = backOff.Next(hint);
    if (!backOff.Fits(wait, clock::now())) {
      Err().Raise(MAPI_E_CALL_FAILED,
                  busyText.empty() ? std::string("The server stayed busy.") : busyText);
      return std::nullopt;
    }
    NoteBusyUntil(clock::now() + wait);
    if (!WaitWithEvents(wait, stop_)) {
      // A wait given up (Cancel, logoff) holds back no one else.
      EndSharedBackOff();
      Err().Raise(MAPI_E_END_OF_SESSION, "The session was logged off while the server was busy.");
      return std::nullopt;
    }
  }
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
