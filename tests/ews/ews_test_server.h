// A loopback EWS server for tests: HTTPS with a certificate made for the test, Basic, NTLM or
// Negotiate (Kerberos) authentication, serving a store file through the EWS operations the backend
// uses, and misbehaving on a schedule (busy, 503, 401, slow answers, dropped connections). It
// listens on 127.0.0.1 only and stops by itself after its lifetime.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace oa::ews::testing {

struct ServerMailbox {
  std::string alias;
  std::string address;
};

// What the server does instead of answering, for chosen requests.
struct Trouble {
  enum class Kind { ServerBusy, ExceededConnectionCount, Http503, Http401, Slow, Drop };
  Kind kind = Kind::ServerBusy;
  std::string operation;  // empty: any operation
  int after = 0;          // matching requests that pass first
  int times = 1;          // then this many are affected; -1 for all
  int millis = 0;         // BackOffMilliseconds, or how long a slow answer waits
};

enum class AuthScheme { Basic, Negotiate, Ntlm };

struct ServerOptions {
  std::string storeFile;
  // The mailboxes ResolveNames knows; a text that matches none resolves to the first.
  std::vector<ServerMailbox> mailboxes;
  std::string user = "oa-test";
  std::string password = "s3cret-Pa55";
  // The schemes offered in a 401, in this order. NTLM and Negotiate authenticate the connection.
  std::vector<AuthScheme> offer{AuthScheme::Basic};
  // The service keys for Negotiate.
  std::string keytab;
  // Directory for the certificate and key (made with the openssl program).
  std::string certDir;
  std::chrono::seconds lifetime{600};
  // Added to every request before it is answered, as a distant server's round trip would.
  std::chrono::milliseconds latency{0};
};

// One request as the server received it.
struct SeenRequest {
  std::string operation;
  std::string body;
  bool authorized = false;
  std::string anchorMailbox;
  std::string authorization;  // the Authorization header as sent
  // The scheme that authenticated the request or its connection ("Basic", "NTLM", "Negotiate"),
  // the user or principal it named, and why a request with credentials was refused.
  std::string scheme;
  std::string principal;
  std::string refusal;
};

class EwsTestServer {
 public:
  explicit EwsTestServer(ServerOptions options);
  ~EwsTestServer();
  EwsTestServer(const EwsTestServer&) = delete;
  EwsTestServer& operator=(const EwsTestServer&) = delete;

  // False when the certificate could not be made or no port could be had.
  bool Start();
  void Stop();

  int port() const { return port_; }
  // The server listens on 127.0.0.1; its certificate also names it "localhost".
  std::string url(const std::string& host = "127.0.0.1") const;
  // The certificate to trust (OA_EWS_CAFILE).
  std::string caFile() const;

  void AddTrouble(const Trouble& t);
  std::vector<SeenRequest> Requests();
  // Requests answered with an EWS operation (not 401s or troubles).
  int64_t OperationCount(const std::string& operation = "");
  void ClearRequests();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// Makes a self-signed certificate for 127.0.0.1 in dir (cert.pem, key.pem).
bool MakeCertificate(const std::string& dir);

}  // namespace oa::ews::testing
