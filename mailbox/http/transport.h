// HTTPS requests to one service over one kept-alive connection, so that the connection (and the
// authentication on it) lasts the whole session. libcurl on POSIX systems, WinHTTP on Windows;
// this header names neither.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oa::http {

// What is read from a server is bounded, so that a hostile or broken one cannot exhaust memory.
// The largest legitimate answers are a Graph page of 1000 messages' properties or an EWS
// FindItem page, a few MiB; 64 MiB leaves them ample room.
constexpr size_t kMaxResponseBody = size_t{64} << 20;
// Real answers carry a few dozen header lines of at most a few KiB (cookies, a long URL).
constexpr size_t kMaxHeaderLine = size_t{16} << 10;
constexpr size_t kMaxHeaderBytes = size_t{256} << 10;
// A Retry-After is seconds or an HTTP date; anything longer is not kept.
constexpr size_t kMaxRetryAfter = 64;

struct TransportOptions {
  // The URL a request without one of its own goes to.
  std::string url;
  // Extra header lines ("X-AnchorMailbox: ..."), sent with every request.
  std::vector<std::string> headers;
  // The body's type; Accept asks for the same.
  std::string contentType = "text/xml; charset=utf-8";
  std::string accept = "text/xml";
  long connectTimeoutMs = 30000;
  long timeoutMs = 120000;
  // NTLM and Basic credentials; a user without a password takes it from the netrc file (POSIX).
  // Without them the Windows transport logs on as the signed-in user.
  std::string user, password;
  // Certificates to trust; empty: the system's.
  std::string caFile;
  // The netrc file for credentials; empty: ~/.netrc (POSIX). None is fine; one that is there is
  // held to the password file's rules (base/secret_file.h, OwnerOnly) before each request that
  // would read it, which fails (Failure::Other) naming the file and the reason when it breaks one.
  std::string netrcFile;
};

// Why a request got no HTTP answer.
enum class Failure {
  None,
  Init,         // the HTTP client could not be set up
  TlsVerify,    // the server's certificate was not trusted
  Tls,          // the TLS handshake failed otherwise
  Timeout,      // no answer in time
  Unreachable,  // name not resolved, connection refused
  Dropped,      // the connection broke off before the whole answer came
  LoginDenied,  // the client library gave up on the authentication
  TooLarge,     // the answer's body or headers went past the limits above
  Cancelled,    // the cancel check answered true during the request
  Other,
};

struct HttpResult {
  Failure failure = Failure::None;
  std::string failureText;  // the client library's own text for a failure
  long status = 0;
  std::string body;
  std::string retryAfter;  // the Retry-After header, if any
  bool answered() const { return failure == Failure::None; }
};

struct HttpRequest {
  std::string method = "POST";
  std::string url;  // empty: the transport's URL
  std::string body;
  // Header lines for this request only, after the transport's.
  std::vector<std::string> headers;
};

class Transport {
 public:
  // Authentication, when the server asks for it: Negotiate first, then NTLM, else Basic, with
  // the options' user and password when set. Basic is never sent before the server asked for
  // it, nor to a server that takes NTLM.
  explicit Transport(TransportOptions options);
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  HttpResult Send(const HttpRequest& request);
  HttpResult Post(const std::string& body) { return Send({"POST", "", body, {}}); }
  // Replaces the extra header lines for the requests that follow.
  void SetHeaders(const std::vector<std::string>& headers);
  // Connections opened so far (1 while the first one is kept alive).
  long connectsMade() const;
  // Drops the kept-alive connection; a request after it fails.
  void Close();
  // A check asked during each request, at least about once a second while the server is silent;
  // once it answers true the request ends with Failure::Cancelled. It is called on the thread
  // that sends (libcurl) or on a watcher thread (WinHTTP), so it must be thread-safe. A request
  // that starts while it already answers true is not cut short: it is the wind-down after a
  // cancel, bounded by the time-out as before.
  void SetCancelCheck(std::function<bool()> cancelled);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oa::http
