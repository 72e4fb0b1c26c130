#include "tests/graph/graph_test_server.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <optional>
#include <thread>

#include "mailbox/graph/codec.h"
#include "mailbox/graph/jwt.h"
#include "tests/graph/graph_endpoint.h"
#include "tests/graph/graph_server_limits.h"
#include "tests/support/loopback_certificate.h"

namespace oa::graph::testing {

using nlohmann::json;

bool MakeAppCertificate(const std::string& dir, const std::string& name) {
  const std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name +
                          " -keyout '" + dir + "/" + name + "-key.pem' -out '" + dir + "/" + name +
                          "-cert.pem' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

namespace {

bool MakeServerCertificate(const std::string& dir) {
  const std::string cmd =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
      dir + "/key.pem' -out '" + dir + "/cert.pem' >/dev/null 2>&1";
  return oa::testing::MakeLoopbackCertificate(cmd, dir + "/cert.pem");
}

// The operation's name, for schedules and counts, before it runs.
std::string OperationOf(const std::string& method, const std::string& p) {
  auto ends = [&](const char* e) {
    const std::string t(e);
    return p.size() >= t.size() && p.compare(p.size() - t.size(), t.size(), t) == 0;
  };
  const bool msg = p.find("/messages/") != std::string::npos;
  return ends("/$batch")                 ? "batch"
         : ends("/translateExchangeIds") ? "translateExchangeIds"
         : ends("/permanentDelete")      ? (msg ? "deleteMessage" : "deleteFolder")
         : ends("/childFolders")         ? (method == "POST" ? "createFolder" : "childFolders")
         : ends("/messages")             ? "messages"
         : msg                           ? (method == "PATCH" ? "patchMessage" : "message")
         : p.find("/mailFolders/") != std::string::npos
             ? (method == "PATCH" ? "patchFolder" : "folder")
             : "users";
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

json Denied() {
  return {{"error",
           {{"code", "ErrorAccessDenied"},
            {"message", "Access is denied. Check credentials and try again."}}}};
}

json Busy(int status) {
  return {{"error",
           {{"code", status == 429 ? "TooManyRequests" : "ServiceUnavailable"},
            {"message", "The service is busy; retry later."}}}};
}

std::string Text(const std::optional<std::vector<uint8_t>>& bytes) {
  return bytes ? std::string(bytes->begin(), bytes->end()) : "";
}

// Checks a client assertion as the token endpoint does: signature by the certificate's key,
// the certificate named by its SHA-256 thumbprint, audience, issuer, subject and lifetime.
std::string AssertionRefusal(const std::string& jwt, const std::string& certFile,
                             const std::string& clientId, const std::string& audience) {
  const size_t a = jwt.find('.'), b = jwt.rfind('.');
  if (a == std::string::npos || a == b) return "not a JWT";
  json header = json::parse(Text(Base64Decode(jwt.substr(0, a))), nullptr, false);
  json claims = json::parse(Text(Base64Decode(jwt.substr(a + 1, b - a - 1))), nullptr, false);
  auto sig = Base64Decode(jwt.substr(b + 1));
  if (header.is_discarded() || claims.is_discarded() || !sig) return "not a JWT";
  std::FILE* f = std::fopen(certFile.c_str(), "rb");
  if (!f) return "no certificate";
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!cert) return "no certificate";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  X509_digest(cert, EVP_sha256(), digest, &len);
  const std::string thumb = Base64Url(std::string(reinterpret_cast<char*>(digest), len));
  EVP_PKEY* key = X509_get_pubkey(cert);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const std::string input = jwt.substr(0, b);
  const bool ok =
      EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
      EVP_DigestVerify(ctx, sig->data(), sig->size(),
                       reinterpret_cast<const unsigned char*>(input.data()), input.size()) == 1;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(key);
  X509_free(cert);
  if (header.value("alg", "") != "RS256") return "alg is not RS256";
  if (header.value("x5t#S256", "") != thumb) return "x5t#S256 names another certificate";
  if (!ok) return "signature does not verify";
  const long now = static_cast<long>(std::time(nullptr));
  if (claims.value("aud", "") != audience) return "wrong audience";
  if (claims.value("iss", "") != clientId || claims.value("sub", "") != clientId)
    return "wrong issuer or subject";
  if (claims.value("exp", 0L) <= now || claims.value("nbf", now + 1) > now + 300)
    return "outside its lifetime";
  return "";
}

}  // namespace

struct GraphTestServer::Impl {
  GraphServerOptions options;
  std::string base;
  std::unique_ptr<httplib::SSLServer> http;
  std::thread listener, watchdog;
  std::mutex mu;
  std::condition_variable stopped;
  bool stopping = false;
  std::vector<Trouble> troubles;
  std::vector<int> troubleSeen;
  std::vector<SeenRequest> seen;
  std::map<std::string, int64_t> answered;
  std::map<std::string, std::chrono::steady_clock::time_point> tokens;
  std::unique_ptr<GraphEndpoint> endpoint;
  std::unique_ptr<MailboxRules> rules;
  std::string refusal;
  int inFlight = 0, maxInFlight = 0;
  int tokenCount = 0;

  std::optional<Trouble> TroubleFor(const std::string& operation) {
    for (size_t i = 0; i < troubles.size(); ++i) {
      Trouble& t = troubles[i];
      if (!t.operation.empty() && t.operation != operation) continue;
      const int n = troubleSeen[i]++;
      if (n < t.after || (t.times >= 0 && n >= t.after + t.times)) continue;
      return t;
    }
    return std::nullopt;
  }

  std::chrono::steady_clock::time_point Now() const {
    return options.clock ? options.clock() : std::chrono::steady_clock::now();
  }

  json Token(const httplib::Request& req, int* status) {
    const std::string tokenUrl = base + "/" + options.tenant + "/oauth2/v2.0/token";
    auto p = [&](const char* k) { return req.get_param_value(k); };
    std::string why;
    if (p("grant_type") != "client_credentials")
      why = "grant_type";
    else if (p("client_id") != options.clientId)
      why = "client_id";
    else if (p("scope") != base + "/.default")
      why = "scope";
    else if (!p("client_assertion").empty()) {
      if (options.appCertificate.empty() ||
          p("client_assertion_type") != "urn:ietf:params:oauth:client-assertion-type:jwt-bearer")
        why = "assertion not taken";
      else
        why = AssertionRefusal(p("client_assertion"), options.appCertificate, options.clientId,
                               tokenUrl);
    } else if (options.clientSecret.empty() || p("client_secret") != options.clientSecret) {
      why = "secret";
    }
    if (!why.empty()) {
      refusal = why;
      *status = 401;
      return {{"error", "invalid_client"},
              {"error_description",
               !options.tokenRefusal.empty()
                   ? options.tokenRefusal
                   : "AADSTS7000215: Invalid client secret provided. Ensure the secret being "
                     "sent in the request is the client secret value, not the client secret "
                     "ID."},
              {"error_codes", {7000215}}};
    }
    const std::string token = "tok-" + std::to_string(++tokenCount);
    const long valid =
        options.tokenValidSeconds >= 0 ? options.tokenValidSeconds : options.tokenLifetimeSeconds;
    tokens[token] = Now() + std::chrono::seconds(valid);
    return {{"token_type", "Bearer"},
            {"expires_in", options.tokenLifetimeSeconds},
            {"ext_expires_in", options.tokenLifetimeSeconds},
            {"access_token", token}};
  }

  void Answer(const httplib::Request& req, httplib::Response& res) {
    std::unique_lock lock(mu);
    ++inFlight;
    maxInFlight = std::max(maxInFlight, inFlight);
    const bool isToken = req.path == "/" + options.tenant + "/oauth2/v2.0/token";
    // A request to a mailbox takes one of its places at once until it is answered.
    const std::string mailbox = isToken ? "" : MailboxRules::MailboxOf(req.path);
    std::optional<Refusal> refusal = rules->Begin(mailbox, Now());
    struct Leave {
      Impl* i;
      std::unique_lock<std::mutex>& l;
      std::string mailbox;
      ~Leave() {
        if (!l.owns_lock()) l.lock();
        --i->inFlight;
        i->rules->End(mailbox);
      }
    } leave{this, lock, refusal ? "" : mailbox};
    SeenRequest s;
    s.method = req.method;
    s.target = req.target;
    s.body = req.body;
    s.authorization = req.get_header_value("Authorization");
    if (options.latency.count() > 0) {
      lock.unlock();
      std::this_thread::sleep_for(options.latency);
      lock.lock();
    }
    GraphCall call;
    call.method = req.method;
    call.path = req.path;
    call.body = req.body;
    call.base = base;
    for (const auto& [k, v] : req.params) call.params.emplace(k, v);
    s.operation = isToken ? "token" : OperationOf(req.method, req.path);
    auto finish = [&](int status, const std::string& body) {
      res.status = status;
      if (!body.empty()) res.set_content(body, "application/json");
      s.status = status;
      seen.push_back(s);
    };
    if (auto t = TroubleFor(s.operation)) {
      switch (t->kind) {
        case Trouble::Kind::Http429:
        case Trouble::Kind::Http503:
        case Trouble::Kind::Http504: {
          if (t->millis > 0)
            res.set_header("Retry-After", std::to_string((t->millis + 999) / 1000));
          if (t->kind == Trouble::Kind::Http429 && t->millis > 0)
            rules->Hold(mailbox, Now() + std::chrono::seconds((t->millis + 999) / 1000));
          const int status = t->kind == Trouble::Kind::Http429   ? 429
                             : t->kind == Trouble::Kind::Http503 ? 503
                                                                 : 504;
          finish(status, Busy(status).dump());
          return;
        }
        case Trouble::Kind::Denied:
          finish(403, Denied().dump());
          return;
        case Trouble::Kind::Drop:
          s.status = -1;
          seen.push_back(s);
          Drop(res);
          return;
        case Trouble::Kind::Slow:
          lock.unlock();
          std::this_thread::sleep_for(std::chrono::milliseconds(t->millis));
          lock.lock();
          break;
      }
    }
    if (isToken) {
      int status = 200;
      json body = req.method == "POST" ? Token(req, &status) : json{{"error", "invalid_request"}};
      finish(status, body.dump());
      ++answered["token"];
      return;
    }
    const std::string auth = s.authorization;
    auto token = tokens.find(auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : "");
    if (token == tokens.end() || token->second <= Now()) {
      finish(401, json{{"error",
                        {{"code", "InvalidAuthenticationToken"},
                         {"message", token == tokens.end() ? "Access token is empty."
                                                           : "Lifetime validation failed, the "
                                                             "token is expired."}}}}
                      .dump());
      return;
    }
    if (refusal) {
      res.set_header("Retry-After", std::to_string(refusal->retryAfterSeconds));
      s.throttledBy = refusal->rule;
      finish(refusal->status, refusal->body.dump());
      return;
    }
    if (s.operation == "batch") {
      bool dropped = false;
      int status = 200;
      const json body = Batch(req.body, s, lock, &status, &dropped);
      if (dropped) {
        s.status = -1;
        seen.push_back(s);
        Drop(res);
        return;
      }
      finish(status, body.dump());
      ++answered[s.operation];
      return;
    }
    if (s.operation == "translateExchangeIds" && !options.translateForApps) {
      finish(403, Denied().dump());
      return;
    }
    if (s.operation == "users" && !options.userReadAll) {
      finish(403, json{{"error",
                        {{"code", "Authorization_RequestDenied"},
                         {"message", "Insufficient privileges to complete the operation."}}}}
                      .dump());
      return;
    }
    std::string body = endpoint->Handle(call);
    finish(call.status, body);
    ++answered[s.operation];
  }

  static void Drop(httplib::Response& res) {
    res.set_content_provider(4096, "application/json",
                             [](size_t, size_t, httplib::DataSink&) { return false; });
  }

  // The requests of a $batch, answered in order, each as it would be on its own; troubles of
  // their operations apply to them one by one.
  json Batch(const std::string& text, const SeenRequest& outer, std::unique_lock<std::mutex>& lock,
             int* status, bool* dropped) {
    json in = json::parse(text, nullptr, false);
    if (in.is_discarded() || !in.is_object() || !in["requests"].is_array() ||
        in["requests"].empty() || in["requests"].size() > 20) {
      *status = 400;
      return {{"error",
               {{"code", "BadRequest"}, {"message", "The batch must hold 1 to 20 requests."}}}};
    }
    // Chained with dependsOn (every request after the first names an earlier one) the requests
    // run one after another; none chained, a few at a time; "Batch should be either fully
    // sequential or fully parallel" (Microsoft Q&A 1532547).
    size_t chained = 0;
    for (const json& r : in["requests"]) chained += r.is_object() && r.contains("dependsOn");
    const bool sequential = chained > 0;
    const json& first = in["requests"][0];
    const bool firstChained = first.is_object() && first.contains("dependsOn");
    if (sequential && (chained != in["requests"].size() - 1 || firstChained)) {
      *status = 400;
      return {{"error",
               {{"code", "BadRequest"},
                {"message", "Batch should be either fully sequential or fully parallel."}}}};
    }
    std::map<std::string, int> statusOf;
    size_t position = 0;
    json responses = json::array();
    for (const json& r : in["requests"]) {
      const std::string id = r.is_object() ? r.value("id", "") : "";
      const std::string url = r.is_object() ? r.value("url", "") : "";
      const size_t index = position++;
      SeenRequest s;
      s.method = r.is_object() ? r.value("method", "") : "";
      s.target = url;
      s.body = r.is_object() && r.contains("body") ? r["body"].dump() : "";
      s.authorization = outer.authorization;
      s.inBatch = true;
      const size_t q = url.find('?');
      GraphCall call;
      call.method = s.method;
      call.path = "/v1.0" + PercentDecoded(url.substr(0, q));
      if (q != std::string::npos) {
        std::string query = url.substr(q + 1);
        for (size_t p = 0; p <= query.size();) {
          size_t e = query.find('&', p);
          if (e == std::string::npos) e = query.size();
          const std::string kv = query.substr(p, e - p);
          const size_t eq = kv.find('=');
          if (!kv.empty())
            call.params.emplace(PercentDecoded(kv.substr(0, eq)),
                                eq == std::string::npos ? "" : PercentDecoded(kv.substr(eq + 1)));
          p = e + 1;
        }
      }
      call.body = s.body;
      call.base = base;
      s.operation = OperationOf(call.method, call.path);
      json answer = {{"id", id}};
      auto refuse = [&](int code, const json& body, int retryAfter, const std::string& rule) {
        answer["status"] = code;
        answer["headers"] = {{"Content-Type", "application/json"}};
        if (retryAfter > 0) answer["headers"]["Retry-After"] = std::to_string(retryAfter);
        answer["body"] = body;
        s.status = code;
        s.throttledBy = rule;
        statusOf[id] = code;
        seen.push_back(s);
        responses.push_back(answer);
      };
      const std::string mailbox = MailboxRules::MailboxOf(call.path);
      if (sequential && index > 0) {
        const json& on = r["dependsOn"];
        bool failed = !on.is_array() || on.empty();
        for (const json& d : on.is_array() ? on : json::array()) {
          auto it = d.is_string() ? statusOf.find(d.get<std::string>()) : statusOf.end();
          if (it == statusOf.end() || it->second < 200 || it->second >= 300) failed = true;
        }
        if (failed) {
          // Not run: it counts against nothing.
          refuse(
              424,
              {{"error",
                {{"code", "FailedDependency"}, {"message", "The request it depends on failed."}}}},
              0, "");
          continue;
        }
      }
      if (!sequential && !mailbox.empty() && rules->concurrency() > 0 &&
          index >= static_cast<size_t>(rules->concurrency())) {
        const Refusal over = MailboxRules::OverConcurrency();
        refuse(over.status, over.body, over.retryAfterSeconds, over.rule);
        continue;
      }
      if (auto over = rules->Spend(mailbox, Now())) {
        refuse(over->status, over->body, over->retryAfterSeconds, over->rule);
        continue;
      }
      std::optional<Trouble> t = TroubleFor(s.operation);
      if (t && t->kind == Trouble::Kind::Drop) {
        s.status = -1;
        seen.push_back(s);
        *dropped = true;
        return {};
      }
      if (t && t->kind == Trouble::Kind::Slow) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(t->millis));
        lock.lock();
      }
      const bool denied = (t && t->kind == Trouble::Kind::Denied) ||
                          (s.operation == "translateExchangeIds" && !options.translateForApps);
      if (denied) {
        answer["status"] = 403;
        answer["headers"] = {{"Content-Type", "application/json"}};
        answer["body"] = Denied();
      } else if (t && t->kind != Trouble::Kind::Slow) {
        const int busy = t->kind == Trouble::Kind::Http429   ? 429
                         : t->kind == Trouble::Kind::Http503 ? 503
                                                             : 504;
        answer["status"] = busy;
        answer["headers"] = {{"Content-Type", "application/json"}};
        if (t->millis > 0)
          answer["headers"]["Retry-After"] = std::to_string((t->millis + 999) / 1000);
        if (busy == 429 && t->millis > 0)
          rules->Hold(mailbox, Now() + std::chrono::seconds((t->millis + 999) / 1000));
        answer["body"] = Busy(busy);
      } else {
        const std::string body =
            id.empty() || url.empty() || url[0] != '/' ? "" : endpoint->Handle(call);
        if (id.empty() || url.empty() || url[0] != '/') {
          call.status = 400;
          answer["body"] = {{"error", {{"code", "BadRequest"}, {"message", "Invalid request."}}}};
        } else if (!body.empty()) {
          answer["body"] = json::parse(body, nullptr, false);
          answer["headers"] = {{"Content-Type", "application/json"}};
        }
        answer["status"] = call.status;
        ++answered[s.operation];
      }
      s.status = answer["status"].get<int>();
      statusOf[id] = s.status;
      seen.push_back(s);
      responses.push_back(answer);
    }
    return {{"responses", responses}};
  }
};

GraphTestServer::GraphTestServer(GraphServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

GraphTestServer::~GraphTestServer() {
  Stop();
}

std::string GraphTestServer::url() const {
  return "https://" + impl_->options.host + ":" + std::to_string(port_);
}

std::string GraphTestServer::caFile() const {
  return impl_->options.certDir + "/cert.pem";
}

const GraphServerOptions& GraphTestServer::options() const {
  return impl_->options;
}

bool GraphTestServer::Start() {
  Impl& i = *impl_;
  if (!MakeServerCertificate(i.options.certDir)) return false;
  i.endpoint = std::make_unique<GraphEndpoint>(i.options.storeFile, i.options.mailboxes);
  i.rules = std::make_unique<MailboxRules>(i.options.concurrency, i.options.budget,
                                           i.options.budgetWindow);
  i.http = std::make_unique<httplib::SSLServer>((i.options.certDir + "/cert.pem").c_str(),
                                                (i.options.certDir + "/key.pem").c_str());
  if (!i.http->is_valid()) return false;
  i.http->set_keep_alive_max_count(100000);
  i.http->set_tcp_nodelay(true);
  i.http->set_keep_alive_timeout(30);
  i.http->set_read_timeout(30);
  auto handler = [&i](const httplib::Request& req, httplib::Response& res) { i.Answer(req, res); };
  i.http->Get(".*", handler);
  i.http->Post(".*", handler);
  i.http->Patch(".*", handler);
  i.http->Delete(".*", handler);
  port_ = i.http->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return false;
  i.base = url();
  i.listener = std::thread([&i] { i.http->listen_after_bind(); });
  i.watchdog = std::thread([&i] {
    std::unique_lock lock(i.mu);
    i.stopped.wait_for(lock, i.options.lifetime, [&i] { return i.stopping; });
    i.http->stop();
  });
  return true;
}

void GraphTestServer::Stop() {
  Impl& i = *impl_;
  {
    std::lock_guard lock(i.mu);
    i.stopping = true;
  }
  i.stopped.notify_all();
  if (i.watchdog.joinable()) i.watchdog.join();
  if (i.http) i.http->stop();
  if (i.listener.joinable()) i.listener.join();
}

void GraphTestServer::AddTrouble(const Trouble& t) {
  std::lock_guard lock(impl_->mu);
  impl_->troubles.push_back(t);
  impl_->troubleSeen.push_back(0);
}

std::vector<SeenRequest> GraphTestServer::Requests() {
  std::lock_guard lock(impl_->mu);
  return impl_->seen;
}

int64_t GraphTestServer::Count(const std::string& operation) {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->answered.find(operation);
  return it == impl_->answered.end() ? 0 : it->second;
}

int GraphTestServer::maxInFlight() {
  std::lock_guard lock(impl_->mu);
  return impl_->maxInFlight;
}

void GraphTestServer::ExpireTokens() {
  std::lock_guard lock(impl_->mu);
  for (auto& [token, ends] : impl_->tokens) ends = impl_->Now();
}

std::string GraphTestServer::lastRefusal() {
  std::lock_guard lock(impl_->mu);
  return impl_->refusal;
}

}  // namespace oa::graph::testing
