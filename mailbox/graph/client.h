// One Graph conversation: an app-only token from the tenant's token endpoint (kept and renewed
// before it runs out), JSON requests over one kept-alive connection, throttling waited out, and
// every failure turned into a MAPI-style error on Err() in one place.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "base/backoff.h"
#include "base/url_origin.h"
#include "mailbox/graph/graph_options.h"
#include "mailbox/graph/mailbox_limits.h"
#include "mailbox/http/transport.h"
#include "mailbox/remote/call_error.h"
#include "mailbox/remote/retry.h"
#include "mailbox/remote/waiter.h"

namespace oa::graph {

using nlohmann::json;

using remote::CallError;
using remote::MAPI_E_USER_CANCEL;

// An answer that is no success, or no answer at all, as the error a mailbox call raises. The
// service's own description is kept (Graph's error.message, the token endpoint's
// error_description); `service` names who answered, for a failure without one.
CallError ErrorFor(const http::HttpResult& r, const std::string& service);

class Client {
 public:
  // Its waits for a busy service go through `waiter` (none: they only sleep).
  Client(GraphOptions options, std::string tenant,
         std::shared_ptr<remote::Waiter> waiter = nullptr);

  // Gets a token now, so that a refused sign-in fails the logon. False with the error raised.
  bool SignIn();

  // Sends a request to a path below the service's version ("/users/x/mailFolders/root") or to a
  // full URL the service gave (@odata.nextLink). The answer's JSON (null for 204) or nullopt
  // with the error raised on Err(). Once the mailbox is set, every request waits for its turn:
  // a wait the service asked for ends first (one beyond the call's budget fails the call without
  // sending anything), then the mailbox's budget is paced (a $batch costs its requests).
  std::optional<json> Call(const std::string& method, const std::string& pathOrUrl,
                           const json* body = nullptr);

  // The mailbox (its user ID) every later request goes to, whose limits it keeps.
  void SetMailbox(const std::string& userId);

  // Asked while waiting; a true answer ends the wait and the call with MAPI_E_END_OF_SESSION.
  void SetStopCheck(std::function<bool()> stop) { retry_.SetStopCheck(std::move(stop)); }

  // What a busy service turned away (a whole request, or requests inside a $batch answer) is
  // sent again after the wait (remote/retry.h); a wait beyond the call's budget fails the call,
  // with the service's description (the busy text) when there is one. Either way nothing else
  // goes to the mailbox before the wait's end.
  class Tries : public remote::Tries {
   public:
    explicit Tries(Client& client) : client_(client) {}
    std::string GateStayedBusy() const override { return "The service stayed busy."; }
    void BusyUntil(std::chrono::steady_clock::time_point until) override;
    void RaiseStayedBusy(const std::string& busyAnswer) override;

   protected:
    Client& client_;
  };
  // Tries until done, within the budget of one call; false with the error raised.
  bool Run(Tries& tries) {
    return retry_.Run(std::chrono::milliseconds(options_.maxWaitMs), tries);
  }

  std::string Url(const std::string& path) const;
  long requestsSent() const { return requests_; }
  long tokensFetched() const { return tokens_; }
  void Disconnect() { graph_.Close(); }

 private:
  bool EnsureToken();
  bool FetchToken();
  // The wait before `cost` requests may go (see Call). `late`: the call began after Cancel, so
  // it runs to its end: it is not paced (the pace keeps room for it) and fails only on a hold.
  bool AwaitTurn(int64_t cost, const backoff::BackOff& budget, bool late);
  class CallTries;
  std::chrono::steady_clock::time_point Now() const;

  GraphOptions options_;
  std::string tenant_;
  http::Transport login_;
  http::Transport graph_;
  remote::Retry retry_;
  std::shared_ptr<MailboxLimits> limits_;
  // Where the token may go: the configured service, and the login service for the credential.
  std::optional<UrlOrigin> graphOrigin_;
  std::optional<UrlOrigin> loginOrigin_;
  std::string token_;
  std::chrono::steady_clock::time_point tokenEnds_{};
  std::chrono::seconds tokenMargin_{0};
  long requests_ = 0;
  long tokens_ = 0;
};

// The longest access token taken from the token endpoint (Graph's run to a few KiB).
inline constexpr size_t kMaxTokenLength = 16 * 1024;
// The range a token's expires_in is taken in; missing or no whole number: kDefaultTokenLife.
inline constexpr std::chrono::seconds kMinTokenLife{60};
inline constexpr std::chrono::seconds kMaxTokenLife{std::chrono::hours(24)};
inline constexpr std::chrono::seconds kDefaultTokenLife{3599};

// Whether a text can go in an Authorization: Bearer header as it is: RFC 6750's b64token
// (letters, digits, - . _ ~ + / and trailing =), from 1 to kMaxTokenLength characters.
bool IsBearerToken(const std::string& token);
// A token's expires_in (seconds as a JSON integer or a string of digits), in range.
std::chrono::seconds TokenLifeOf(const json& expiresIn);

// Percent-encoding for a URL's query or a form field.
std::string UrlEncode(const std::string& text);

}  // namespace oa::graph
