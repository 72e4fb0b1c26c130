#include "tests/ews/ews_test_server.h"

#include <httplib.h>

#include <condition_variable>
#include <thread>

#include "mailbox/ews/props.h"
#include "mailbox/ews/soap.h"
#include "tests/ews/server_auth.h"
#include "tests/ews/store_endpoint.h"
#include "tests/support/loopback_certificate.h"

namespace oa::ews::testing {

// Named both ways a client may reach the loopback server: WinHTTP checks a URL's host against
// the DNS names only, other clients take the IP address entry.
bool MakeCertificate(const std::string& dir) {
  const std::string cmd =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
      dir + "/key.pem' -out '" + dir + "/cert.pem' >/dev/null 2>&1";
  return oa::testing::MakeLoopbackCertificate(cmd, dir + "/cert.pem");
}

struct EwsTestServer::Impl {
  ServerOptions options;
  std::unique_ptr<httplib::SSLServer> http;
  std::thread listener;
  std::thread watchdog;
  std::mutex mu;
  std::condition_variable stopped;
  bool stopping = false;
  std::vector<Trouble> troubles;
  std::vector<int> troubleSeen;
  std::vector<SeenRequest> seen;
  std::map<std::string, int64_t> answered;
  std::unique_ptr<StoreEndpoint> endpoint;
  std::unique_ptr<ServerAuth> auth;

  // The first trouble that applies to this request, counted.
  std::optional<Trouble> TroubleFor(const std::string& operation) {
    for (size_t i = 0; i < troubles.size(); ++i) {
      Trouble& t = troubles[i];
      if (!t.operation.empty() && t.operation != operation) continue;
      int n = troubleSeen[i]++;
      if (n < t.after) continue;
      if (t.times >= 0 && n >= t.after + t.times) continue;
      return t;
    }
    return std::nullopt;
  }

  void Answer(const httplib::Request& req, httplib::Response& res) {
    if (options.latency.count() > 0) std::this_thread::sleep_for(options.latency);
    std::unique_lock lock(mu);
    SeenRequest s;
    s.body = req.body;
    s.anchorMailbox = req.get_header_value("X-AnchorMailbox");
    s.authorization = req.get_header_value("Authorization");
    s.authorized = auth->Authenticate(req, res, s);
    pugi::xml_document doc;
    doc.load_buffer(req.body.data(), req.body.size());
    auto op = Child(Child(doc, "Envelope"), "Body").find_child([](pugi::xml_node n) {
      return n.type() == pugi::node_element;
    });
    s.operation = op ? std::string(LocalName(op.name())) : "";
    seen.push_back(s);
    if (!s.authorized) return;
    if (auto t = TroubleFor(s.operation)) {
      switch (t->kind) {
        case Trouble::Kind::ServerBusy:
        case Trouble::Kind::ExceededConnectionCount: {
          const bool busy = t->kind == Trouble::Kind::ServerBusy;
          res.status = 500;
          res.set_content(
              std::string(
                  R"(<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><s:Fault>)") +
                  R"(<faultcode xmlns:a="http://schemas.microsoft.com/exchange/services/2006/types">a:)" +
                  (busy ? "ErrorServerBusy" : "ErrorExceededConnectionCount") +
                  R"(</faultcode><faultstring>The server cannot service this request right now. Try again later.</faultstring><detail>)" +
                  R"(<e:ResponseCode xmlns:e="http://schemas.microsoft.com/exchange/services/2006/errors">)" +
                  (busy ? "ErrorServerBusy" : "ErrorExceededConnectionCount") +
                  R"(</e:ResponseCode><e:Message xmlns:e="http://schemas.microsoft.com/exchange/services/2006/errors">The server cannot service this request right now. Try again later.</e:Message>)" +
                  (busy
                       ? R"(<t:MessageXml xmlns:t="http://schemas.microsoft.com/exchange/services/2006/types"><t:Value Name="BackOffMilliseconds">)" +
                             std::to_string(t->millis) + "</t:Value></t:MessageXml>"
                       : std::string()) +
                  "</detail></s:Fault></s:Body></s:Envelope>",
              "text/xml; charset=utf-8");
          return;
        }
        case Trouble::Kind::Http503:
          res.status = 503;
          if (t->millis > 0)
            res.set_header("Retry-After", std::to_string((t->millis + 999) / 1000));
          res.set_content("Service Unavailable", "text/plain");
          return;
        case Trouble::Kind::Http401:
          auth->Challenge(res);
          return;
        case Trouble::Kind::Drop:
          // Headers go out, then the connection closes before the body.
          res.set_content_provider(4096, "text/xml",
                                   [](size_t, size_t, httplib::DataSink&) { return false; });
          return;
        case Trouble::Kind::Slow:
          lock.unlock();
          std::this_thread::sleep_for(std::chrono::milliseconds(t->millis));
          lock.lock();
          break;
      }
    }
    std::string operation;
    res.set_content(endpoint->Handle(req.body, &operation), "text/xml; charset=utf-8");
    ++answered[operation];
  }
};

EwsTestServer::EwsTestServer(ServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

EwsTestServer::~EwsTestServer() {
  Stop();
}

std::string EwsTestServer::url(const std::string& host) const {
  return "https://" + host + ":" + std::to_string(port_) + "/EWS/Exchange.asmx";
}

std::string EwsTestServer::caFile() const {
  return impl_->options.certDir + "/cert.pem";
}

bool EwsTestServer::Start() {
  Impl& i = *impl_;
  if (!MakeCertificate(i.options.certDir)) return false;
  i.endpoint = std::make_unique<StoreEndpoint>(i.options.storeFile, i.options.mailboxes);
  i.auth = std::make_unique<ServerAuth>(i.options);
  i.http = std::make_unique<httplib::SSLServer>((i.options.certDir + "/cert.pem").c_str(),
                                                (i.options.certDir + "/key.pem").c_str());
  if (!i.http->is_valid()) return false;
  // A kept-alive connection holds a thread: room for many sessions at once.
  i.http->new_task_queue = [] { return new httplib::ThreadPool(32); };
  i.http->set_keep_alive_max_count(100000);
  i.http->set_tcp_nodelay(true);
  i.http->set_keep_alive_timeout(30);
  i.http->set_read_timeout(30);
  i.http->Post("/EWS/Exchange.asmx",
               [&i](const httplib::Request& req, httplib::Response& res) { i.Answer(req, res); });
  port_ = i.http->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return false;
  i.listener = std::thread([&i] { i.http->listen_after_bind(); });
  i.watchdog = std::thread([&i] {
    std::unique_lock lock(i.mu);
    i.stopped.wait_for(lock, i.options.lifetime, [&i] { return i.stopping; });
    i.http->stop();
  });
  return true;
}

void EwsTestServer::Stop() {
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

void EwsTestServer::AddTrouble(const Trouble& t) {
  std::lock_guard lock(impl_->mu);
  impl_->troubles.push_back(t);
  impl_->troubleSeen.push_back(0);
}

std::vector<SeenRequest> EwsTestServer::Requests() {
  std::lock_guard lock(impl_->mu);
  return impl_->seen;
}

int64_t EwsTestServer::OperationCount(const std::string& operation) {
  std::lock_guard lock(impl_->mu);
  int64_t n = 0;
  for (auto& [op, count] : impl_->answered)
    if (operation.empty() || op == operation) n += count;
  return n;
}

void EwsTestServer::ClearRequests() {
  std::lock_guard lock(impl_->mu);
  impl_->seen.clear();
  impl_->answered.clear();
}

}  // namespace oa::ews::testing
