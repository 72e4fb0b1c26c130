// HTTPS POSTs to one EWS service URL over one libcurl handle, so that the connection (and the
// authentication on it) is kept alive for the whole session.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace oa::ews {

struct TransportOptions {
  std::string url;
  // Extra header lines ("X-AnchorMailbox: ..."), sent with every request.
  std::vector<std::string> headers;
  long connectTimeoutMs = 30000;
  long timeoutMs = 120000;
  // NTLM and Basic credentials; a user without a password takes it from the netrc file.
  std::string user, password;
  // Certificates to trust; empty: the system's.
  std::string caFile;
  // The netrc file for credentials; empty: libcurl's default (~/.netrc).
  std::string netrcFile;
};

struct HttpResult {
  CURLcode curl = CURLE_OK;
  std::string curlError;  // libcurl's text for curl != CURLE_OK
  long status = 0;
  std::string body;
  std::string retryAfter;  // the Retry-After header, if any
};

class Transport {
 public:
  // Authentication, when the server asks for it: Negotiate (the user's Kerberos ticket) first,
  // then NTLM, else Basic, with the options' user and password when set, else the netrc file.
  // Basic is never sent before the server asked for it, nor to a server that takes NTLM.
  explicit Transport(TransportOptions options);
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  HttpResult Post(const std::string& body);
  // Replaces the extra header lines for the requests that follow.
  void SetHeaders(const std::vector<std::string>& headers);
  // Connections opened so far (1 while the first one is kept alive).
  long connectsMade() const { return connects_; }
  // Drops the kept-alive connection; a Post after it fails.
  void Close() {
    curl_.reset();
    headers_.reset();
  }

 private:
  // Bits, for the set of schemes tried on one request.
  enum class Scheme { None = 0, Negotiate = 1, Ntlm = 2, Basic = 4 };
  HttpResult PerformOnce(const std::string& body);
  // The scheme to try after a 401 that offered `offered` (CURLAUTH_* bits), none of `tried`.
  Scheme NextScheme(long offered, unsigned tried) const;
  void Use(Scheme scheme);

  struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
  };
  struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
  };
  TransportOptions options_;
  std::unique_ptr<CURL, CurlDeleter> curl_;
  std::unique_ptr<curl_slist, SlistDeleter> headers_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  long connects_ = 0;
  // The scheme the requests go out with; kept while the server takes it.
  Scheme scheme_ = Scheme::None;
};

}  // namespace oa::ews
