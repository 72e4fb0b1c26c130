// A loopback Microsoft Graph for tests: HTTPS with a certificate made for the test, a token
// endpoint that checks the client secret or verifies the client assertion (RS256) with the
// application certificate's public key, and the mail operations the backend uses, answered from
// a store file, one at a time or in a JSON $batch. It misbehaves on a schedule (429, 503, 504, slow
// answers, dropped connections), can add latency to every answer, listens on 127.0.0.1 only and
// stops after its lifetime.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oa::graph::testing {

struct GraphMailbox {
  std::string alias;
  std::string address;
};

struct Trouble {
  // Denied: 403 ErrorAccessDenied, as for a permission the application lacks.
  enum class Kind { Http429, Http503, Http504, Slow, Drop, Denied };
  Kind kind = Kind::Http429;
  std::string operation;  // as SeenRequest::operation; empty: any Graph request
  int after = 0;          // matching requests that pass first
  int times = 1;          // then this many are affected; -1 for all
  int millis = 0;         // Retry-After (rounded up to seconds; 0: none), or the slow wait
};

struct GraphServerOptions {
  std::string storeFile;
  std::vector<GraphMailbox> mailboxes;
  std::string tenant = "contoso.onmicrosoft.com";
  std::string clientId = "6731de76-14a6-49ae-97bc-6eba6914391e";
  // The client secret the token endpoint takes; empty: none is taken.
  std::string clientSecret = "Qx8~graph.s3cret_value";
  // The application certificate (PEM) whose key signs client assertions; empty: none taken.
  std::string appCertificate;
  // The error_description of a refused sign-in; empty: the one for a wrong client secret.
  std::string tokenRefusal;
  // translateExchangeIds as older revisions of the service answered it to an application; by
  // default it is refused (403), as the service does for an app-only token today.
  bool translateForApps = false;
  // Whether the application holds User.Read.All: without it the directory (/users) answers 403.
  bool userReadAll = true;
  long tokenLifetimeSeconds = 3599;
  // How long a token is really taken (-1: as long as its expires_in says).
  long tokenValidSeconds = -1;
  // The clock token lifetimes are measured with; empty: the steady clock.
  std::function<std::chrono::steady_clock::time_point()> clock;
  // Added before every answer (the bench's network latency).
  std::chrono::milliseconds latency{0};
  // The service's limits per application and mailbox: at most `concurrency` requests at once
  // (0: no limit), and inside a $batch whose requests are not chained with dependsOn that many
  // run and the rest are refused; at most `budget` requests per `budgetWindow` (0: no budget),
  // each request inside a batch counted. Refusals are 429 with a Retry-After, as the service's.
  int concurrency = 4;
  int64_t budget = 0;
  std::chrono::milliseconds budgetWindow{0};
  std::string certDir;
  std::chrono::seconds lifetime{600};
  // The host of url() and of the links the server gives (it listens on 127.0.0.1 either way):
  // "localhost" for clients that check a certificate's DNS name rather than its IP address.
  std::string host = "127.0.0.1";
};

struct SeenRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string body;
  std::string authorization;
  // "token", "users", "folder", "childFolders", "createFolder", "patchFolder", "deleteFolder",
  // "messages", "message", "patchMessage", "deleteMessage", "translateExchangeIds", "batch",
  // or "".
  std::string operation;
  int status = 0;
  // A request inside a $batch: listed after the ones before it in the same batch, before the
  // batch itself. Troubles of its operation give its own status (Drop drops the whole batch).
  bool inBatch = false;
  // Refused by the service's limits: "MailboxConcurrency" or "budget"; "" otherwise.
  std::string throttledBy;
};

class GraphTestServer {
 public:
  explicit GraphTestServer(GraphServerOptions options);
  ~GraphTestServer();
  GraphTestServer(const GraphTestServer&) = delete;
  GraphTestServer& operator=(const GraphTestServer&) = delete;

  bool Start();
  void Stop();
  // https://HOST:PORT (options().host), the base of both the token endpoint and Graph.
  std::string url() const;
  std::string caFile() const;
  const GraphServerOptions& options() const;

  void AddTrouble(const Trouble& t);
  std::vector<SeenRequest> Requests();
  int64_t Count(const std::string& operation);
  // The most requests that were being answered at one time.
  int maxInFlight();
  // Why the last refused sign-in was refused.
  std::string lastRefusal();
  // Every token given out so far is refused from now on, as expired.
  void ExpireTokens();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// A self-signed RSA certificate and its key for the application (cert.pem, key.pem in dir).
bool MakeAppCertificate(const std::string& dir, const std::string& name);

}  // namespace oa::graph::testing
