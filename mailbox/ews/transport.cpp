#include "mailbox/ews/transport.h"

#include <cstdlib>
#include <mutex>
#include <string_view>

namespace oa::ews {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t OnBody(char* data, size_t size, size_t n, void* user) {
  static_cast<std::string*>(user)->append(data, size * n);
  return size * n;
}

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
  std::string_view line(data, size * n);
  constexpr std::string_view kName = "retry-after:";
  if (line.size() > kName.size()) {
    bool match = true;
    for (size_t i = 0; i < kName.size() && match; ++i) {
      match = std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
    }
    if (match) {
      std::string value(line.substr(kName.size()));
      auto b = value.find_first_not_of(" \t");
      auto e = value.find_last_not_of(" \t\r\n");
      *static_cast<std::string*>(user) = b == std::string::npos ? "" : value.substr(b, e - b + 1);
    }
  }
  return size * n;
}

const char* Env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

}  // namespace

Transport::Transport(TransportOptions options) : options_(std::move(options)) {
  GlobalInit();
  curl_.reset(curl_easy_init());
  CURL* c = curl_.get();
  if (!c) return;
  SetHeaders(options_.headers);
  curl_easy_setopt(c, CURLOPT_URL, options_.url.c_str());
  curl_easy_setopt(c, CURLOPT_USERAGENT, "ondavel Agent Cleanup");
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer_);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options_.timeoutMs);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* ca = Env("OA_EWS_CAFILE")) curl_easy_setopt(c, CURLOPT_CAINFO, ca);

  // Negotiate first (the user's Kerberos ticket), then NTLM, then Basic; libcurl picks the
  // strongest one the server offers. Basic is never sent before the server asked for it.
  curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_NEGOTIATE | CURLAUTH_NTLM | CURLAUTH_BASIC);
  const char* user = Env("OA_EWS_USER");
  haveUser_ = user != nullptr;
  if (user) {
    curl_easy_setopt(c, CURLOPT_USERNAME, user);
    const char* password = Env("OA_EWS_PASSWORD");
    curl_easy_setopt(c, CURLOPT_PASSWORD, password ? password : "");
  } else {
    curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
  }

  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
}

Transport::~Transport() = default;

void Transport::SetHeaders(const std::vector<std::string>& headers) {
  if (!curl_) return;
  curl_slist* list = nullptr;
  list = curl_slist_append(list, "Content-Type: text/xml; charset=utf-8");
  list = curl_slist_append(list, "Accept: text/xml");
  // No "Expect: 100-continue" pause before each body.
  list = curl_slist_append(list, "Expect:");
  for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
  curl_easy_setopt(curl_.get(), CURLOPT_HTTPHEADER, list);
  headers_.reset(list);
}

HttpResult Transport::Post(const std::string& body) {
  HttpResult r = PerformOnce(body);
  if (r.curl != CURLE_OK || r.status != 401 || authSettled_) return r;
  // libcurl does not fall back by itself when the first scheme it picked was refused.
  long avail = 0;
  curl_easy_getinfo(curl_.get(), CURLINFO_HTTPAUTH_AVAIL, &avail);
  CURL* c = curl_.get();
  if (!haveUser_ && (avail & CURLAUTH_NEGOTIATE)) {
    // No stored credentials: the Kerberos ticket alone, which libcurl uses only with a user.
    curl_easy_setopt(c, CURLOPT_USERPWD, ":");
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_NEGOTIATE);
    r = PerformOnce(body);
  } else if (haveUser_ && (avail & CURLAUTH_NEGOTIATE) &&
             (avail & (CURLAUTH_NTLM | CURLAUTH_BASIC))) {
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_NTLM | CURLAUTH_BASIC);
    r = PerformOnce(body);
  }
  authSettled_ = r.curl == CURLE_OK && r.status != 401;
  return r;
}

HttpResult Transport::PerformOnce(const std::string& body) {
  HttpResult r;
  CURL* c = curl_.get();
  if (!c) {
    r.curl = CURLE_FAILED_INIT;
    r.curlError = "The HTTP client could not be initialised.";
    return r;
  }
  errorBuffer_[0] = '\0';
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &r.body);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &r.retryAfter);
  r.curl = curl_easy_perform(c);
  long connects = 0;
  curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &connects);
  connects_ += connects;
  if (r.curl != CURLE_OK) {
    r.curlError = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(r.curl);
    return r;
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
  if (r.status == 401)
    authSettled_ = false;
  else
    authSettled_ = true;
  return r;
}

}  // namespace oa::ews
