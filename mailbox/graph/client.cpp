#include "mailbox/graph/client.h"

#include <algorithm>

#include "base/mapi_error.h"
#include "mailbox/graph/bounded_json.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/jwt.h"
#include "mailbox/model/const_mapi.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;
using std::chrono::milliseconds;
using clock = std::chrono::steady_clock;

namespace {

http::TransportOptions TransportFor(const GraphOptions& o, const std::string& url,
                                    const std::string& contentType) {
  http::TransportOptions t;
  t.url = url;
  t.contentType = contentType;
  t.accept = "application/json";
  t.timeoutMs = o.timeoutMs;
  t.connectTimeoutMs = std::min(30000L, o.timeoutMs);
  t.caFile = o.caFile;
  return t;
}

std::string TrimSlash(std::string s) {
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

// Null for an answer that is no JSON or is nested too deep (*error then says so).
json ParseOrNull(const std::string& body, std::string* error = nullptr) {
  json j = ParseBoundedJson(body, error);
  return j.is_discarded() ? json() : j;
}

// Graph's {"error":{"code","message"}} and the token endpoint's {"error","error_description"}.
std::string ServiceText(const json& j, std::string* code) {
  if (!j.is_object() || !j.contains("error")) return "";
  const json& e = j["error"];
  if (e.is_object()) {
    *code = e.value("code", "");
    return e.value("message", "");
  }
  if (e.is_string()) *code = e.get<std::string>();
  return OneLineSignInRefusal(j.value("error_description", ""));
}

bool Throttled(long status) {
  return status == 429 || status == 503 || status == 504;
}

}  // namespace

bool IsBearerToken(const std::string& token) {
  if (token.empty() || token.size() > kMaxTokenLength) return false;
  size_t end = token.size();
  while (end > 0 && token[end - 1] == '=') --end;
  if (end == 0) return false;
  return std::all_of(token.begin(), token.begin() + static_cast<std::ptrdiff_t>(end),
                     [](unsigned char c) {
                       return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
                              c == '+' || c == '/';
                     });
}

std::chrono::seconds TokenLifeOf(const json& expiresIn) {
  long long seconds = -1;
  if (expiresIn.is_number_integer()) {
    // A value beyond the range counts as its end, whatever its sign or size.
    seconds = expiresIn.is_number_unsigned()
                  ? static_cast<long long>(
                        std::min<uint64_t>(expiresIn.get<uint64_t>(), kMaxTokenLife.count()))
                  : std::max<int64_t>(expiresIn.get<int64_t>(), 0);
  } else if (expiresIn.is_string()) {
    const std::string& text = expiresIn.get_ref<const std::string&>();
    if (!text.empty() && text.size() <= 9 &&
        std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
      seconds = std::stoll(text);
  }
  if (seconds < 0) return kDefaultTokenLife;
  return std::clamp(std::chrono::seconds(seconds), kMinTokenLife, kMaxTokenLife);
}

std::string UrlEncode(const std::string& text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

CallError ErrorFor(const http::HttpResult& r, const std::string& service) {
  if (r.failure != http::Failure::None)
    return remote::TransportError(r, remote::PartyNamed(service));
  std::string code;
  std::string message = ServiceText(ParseOrNull(r.body), &code);
  const std::string status = "HTTP " + std::to_string(r.status) + " from " + service;
  if (message.empty()) message = code.empty() ? status + "." : code;
  if (r.status == 404 || code == "ErrorItemNotFound" || code == "ErrorFolderNotFound" ||
      code == "Request_ResourceNotFound")
    return {MAPI_E_NOT_FOUND, message};
  if (r.status == 403) return {MAPI_E_NO_ACCESS, message};
  if (r.status == 401 || code == "invalid_client" || code == "unauthorized_client" ||
      code == "invalid_request" || code == "InvalidAuthenticationToken")
    return {MAPI_E_LOGON_FAILED, "The sign-in was refused: " + message};
  if (r.status == 409 || code == "ErrorFolderExists") return {MAPI_E_COLLISION, message};
  return {MAPI_E_CALL_FAILED, message};
}

Client::Client(GraphOptions options, std::string tenant, std::shared_ptr<remote::Waiter> waiter)
    : options_(std::move(options)),
      tenant_(std::move(tenant)),
      login_(TransportFor(options_, "", "application/x-www-form-urlencoded")),
      graph_(TransportFor(options_, "", "application/json")),
      retry_(remote::GateFor("graph"), std::move(waiter)),
      graphOrigin_(OriginOf(options_.graphUrl)),
      loginOrigin_(OriginOf(options_.loginUrl)) {
  // A request in flight ends on the same checks as a wait.
  auto cancelled = [this] { return retry_.RequestCancelled(); };
  login_.SetCancelCheck(cancelled);
  graph_.SetCancelCheck(cancelled);
}

std::string Client::Url(const std::string& path) const {
  return TrimSlash(options_.graphUrl) + "/v1.0" + path;
}

bool Client::SignIn() {
  return EnsureToken();
}

clock::time_point Client::Now() const {
  return options_.now ? options_.now() : clock::now();
}

bool Client::EnsureToken() {
  // Renewed well before it runs out, so that no request goes with a token about to expire.
  if (!token_.empty() && Now() + tokenMargin_ < tokenEnds_) return true;
  return FetchToken();
}

bool Client::FetchToken() {
  token_.clear();
  // The credential goes only where it was configured for, and never in clear to another host.
  if (std::string why; !IsSafeServiceUrl(options_.loginUrl, &why)) {
    Err().Raise(MAPI_E_LOGON_FAILED,
                "The sign-in URL " + options_.loginUrl + " is refused: " + why);
    return false;
  }
  if (std::string why; !IsSafeServiceUrl(options_.graphUrl, &why)) {
    Err().Raise(MAPI_E_LOGON_FAILED,
                "The Microsoft Graph URL " + options_.graphUrl + " is refused: " + why);
    return false;
  }
  const std::string tokenUrl =
      TrimSlash(options_.loginUrl) + "/" + UrlEncode(tenant_) + "/oauth2/v2.0/token";
  std::string form = "grant_type=client_credentials&client_id=" + UrlEncode(options_.clientId) +
                     "&scope=" + UrlEncode(TrimSlash(options_.graphUrl) + "/.default");
  if (!options_.certFile.empty() || !options_.certThumbprint.empty()) {
    std::string error;
    std::optional<std::string> assertion;
    if (!options_.certThumbprint.empty()) {
      if (auto key = LoadStoreCertificateKey(options_.certThumbprint, &error))
        assertion =
            ClientAssertion(std::move(key), "the key of certificate " + options_.certThumbprint,
                            options_.clientId, tokenUrl, &error);
    } else {
      assertion =
          ClientAssertion(options_.certFile, options_.keyFile, options_.clientId, tokenUrl, &error);
    }
    if (!assertion) {
      Err().Raise(MAPI_E_LOGON_FAILED, error);
      return false;
    }
    form += "&client_assertion_type=" +
            UrlEncode("urn:ietf:params:oauth:client-assertion-type:jwt-bearer") +
            "&client_assertion=" + *assertion;
  } else {
    form += "&client_secret=" + UrlEncode(options_.clientSecret);
  }
  http::HttpRequest req;
  req.method = "POST";
  req.url = tokenUrl;
  req.body = form;
  ++requests_;
  http::HttpResult r = login_.Send(req);
  if (r.failure == http::Failure::Dropped) {
    ++requests_;
    r = login_.Send(req);
  }
  if (!r.answered() || r.status != 200) {
    CallError e = ErrorFor(r, "the token endpoint");
    if (r.answered() && e.number != MAPI_E_LOGON_FAILED) {
      e.number = MAPI_E_LOGON_FAILED;
      e.description = "The sign-in was refused: " + e.description;
    }
    Err().Raise(e.number, e.description);
    return false;
  }
  std::string unread;
  json j = ParseOrNull(r.body, &unread);
  if (!j.is_object() || !j["access_token"].is_string()) {
    Err().Raise(MAPI_E_LOGON_FAILED,
                unread.empty() ? "The token endpoint gave no access token."
                               : "The token endpoint's answer was refused: " + unread + ".");
    return false;
  }
  // It goes into a header of every request: nothing that could end the header or add one.
  if (!IsBearerToken(j["access_token"].get<std::string>())) {
    Err().Raise(MAPI_E_LOGON_FAILED,
                "The token endpoint gave an access token that is not valid in a header.");
    return false;
  }
  token_ = j["access_token"].get<std::string>();
  const std::chrono::seconds life = TokenLifeOf(j.value("expires_in", json()));
  tokenEnds_ = Now() + life;
  // Five minutes ahead for the usual hour; a short-lived token gets a quarter of its life, so
  // that it is not renewed before every request.
  tokenMargin_ = std::min<std::chrono::seconds>(std::chrono::minutes(5), life / 4);
  ++tokens_;
  return true;
}

void Client::SetMailbox(const std::string& userId) {
  limits_ = LimitsFor(options_.graphUrl, options_.clientId, userId, options_.budgetRequests,
                      options_.budgetWindow);
}

void Client::Tries::BusyUntil(clock::time_point until) {
  // The service's wait holds for the whole mailbox, also when this call gives up on it.
  if (client_.limits_) client_.limits_->HoldUntil(until);
}

void Client::Tries::RaiseStayedBusy(const std::string& busyAnswer) {
  Err().Raise(MAPI_E_CALL_FAILED, busyAnswer.empty() ? "The service stayed busy."
                                                     : "The service stayed busy: " + busyAnswer);
}

bool Client::AwaitTurn(int64_t cost, const backoff::BackOff& budget, bool late) {
  if (!limits_) return true;
  while (true) {
    const auto now = clock::now();
    if (const auto held = limits_->heldUntil(); held > now) {
      const milliseconds wait = std::chrono::ceil<milliseconds>(held - now);
      if (!budget.Fits(wait, now)) {
        Err().Raise(MAPI_E_CALL_FAILED,
                    "The service stayed busy: it asked for no request to this mailbox for " +
                        std::to_string((wait.count() + 999) / 1000) + " seconds more.");
        return false;
      }
      if (!retry_.Wait(wait)) return false;
      continue;
    }
    if (late) {
      limits_->SendNow(cost, now);
      return true;
    }
    const auto pace = limits_->Reserve(cost, now);
    if (pace == clock::duration::zero()) return true;
    // Our own pace: short (a batch's share of the window), and Cancel ends it as any wait.
    if (!retry_.Wait(std::chrono::ceil<milliseconds>(pace))) return false;
  }
}

// One request to Graph: its answers as the retry loop reads them.
class Client::CallTries : public Client::Tries {
 public:
  CallTries(Client& client, http::HttpRequest req, int64_t cost, bool late)
      : Tries(client), req_(std::move(req)), cost_(cost), late_(late) {}

  std::optional<json> answer;

  bool AwaitTurn(const backoff::BackOff& budget) override {
    return client_.AwaitTurn(cost_, budget, late_);
  }

  remote::Try Once() override {
    using remote::Try;
    if (!client_.EnsureToken()) return Try::Failed();
    req_.headers = {"Authorization: Bearer " + client_.token_};
    ++client_.requests_;
    http::HttpResult r = client_.graph_.Send(req_);
    // The operations sent here may be repeated: a repeated delete finds nothing to delete.
    if (r.failure == http::Failure::Dropped && !retriedDrop_) {
      retriedDrop_ = true;
      return Try::Again();
    }
    if (r.answered() && r.status == 401 && !renewed_) {
      // A token the service no longer takes (revoked, clock skew): one fresh one.
      renewed_ = true;
      client_.token_.clear();
      return Try::Again();
    }
    if (r.answered() && r.status >= 200 && r.status < 300) {
      std::string unread;
      json j = r.body.empty() ? json() : ParseOrNull(r.body, &unread);
      if (unread.empty()) {
        answer = std::move(j);
        return Try::Done();
      }
      Err().Raise(MAPI_E_CALL_FAILED,
                  "The answer from Microsoft Graph was refused: " + unread + ".");
      return Try::Failed();
    }
    if (!r.answered() || !Throttled(r.status)) {
      remote::Raise(ErrorFor(r, "Microsoft Graph"));
      return Try::Failed();
    }
    return Try::Busy(backoff::ParseRetryAfter(r.retryAfter, std::chrono::system_clock::now()),
                     ErrorFor(r, "Microsoft Graph").description);
  }

 private:
  http::HttpRequest req_;
  const int64_t cost_;
  const bool late_;
  bool retriedDrop_ = false;
  bool renewed_ = false;
};

std::optional<json> Client::Call(const std::string& method, const std::string& pathOrUrl,
                                 const json* body) {
  http::HttpRequest req;
  req.method = method;
  const bool absolute = pathOrUrl.find("://") != std::string::npos;
  req.url = absolute ? pathOrUrl : Url(pathOrUrl);
  // A URL the service gave goes with the token only to the service itself.
  if (absolute && (!graphOrigin_ || OriginOf(pathOrUrl) != graphOrigin_)) {
    Err().Raise(MAPI_E_CALL_FAILED,
                "The service's next-page link leaves " +
                    (graphOrigin_ ? graphOrigin_->ToString() : options_.graphUrl) +
                    "; refused: " + pathOrUrl);
    return std::nullopt;
  }
  if (body) req.body = body->dump();
  // Each request inside a $batch counts against the mailbox's budget on its own.
  int64_t cost = 1;
  if (body && pathOrUrl == "/$batch" && body->is_object() && body->contains("requests") &&
      (*body)["requests"].is_array())
    cost = std::max<int64_t>(1, static_cast<int64_t>((*body)["requests"].size()));
  // A request begun after Cancel (a cancelled run's last count, its logoff) runs to its end.
  CallTries tries(*this, std::move(req), cost, retry_.CancelAsked());
  if (!Run(tries)) return std::nullopt;
  return std::move(tries.answer);
}

}  // namespace oa::graph
