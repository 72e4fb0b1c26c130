#include "mailbox/ews/transport.h"

#include <pwd.h>
#include <unistd.h>

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

// Whether libcurl has a netrc file to look the server up in.
bool HaveNetrc(const std::string& file) {
  if (!file.empty()) return access(file.c_str(), R_OK) == 0;
  const passwd* pw = getpwuid(geteuid());
  return pw && pw->pw_dir && access((std::string(pw->pw_dir) + "/.netrc").c_str(), R_OK) == 0;
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
  if (!options_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, options_.caFile.c_str());
  if (!options_.netrcFile.empty())
    curl_easy_setopt(c, CURLOPT_NETRC_FILE, options_.netrcFile.c_str());
  Use(Scheme::None);

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
  // libcurl neither moves on when the scheme it picked was refused nor uses a Kerberos ticket
  // without a user name: each scheme the server offers gets one turn here, strongest first.
  auto tried = static_cast<unsigned>(scheme_);
  while (r.curl == CURLE_OK && r.status == 401) {
    long offered = 0;
    curl_easy_getinfo(curl_.get(), CURLINFO_HTTPAUTH_AVAIL, &offered);
    const Scheme next = NextScheme(offered, tried);
    if (next == Scheme::None) break;
    tried |= static_cast<unsigned>(next);
    Use(next);
    r = PerformOnce(body);
  }
  return r;
}

Transport::Scheme Transport::NextScheme(long offered, unsigned tried) const {
  auto untried = [tried](Scheme s) { return (tried & static_cast<unsigned>(s)) == 0; };
  if ((offered & CURLAUTH_NEGOTIATE) && untried(Scheme::Negotiate)) return Scheme::Negotiate;
  // The credentials get one turn: NTLM keeps the password off the wire, so Basic only goes out
  // to a server that takes nothing else.
  const bool credentials =
      (!options_.user.empty() && !options_.password.empty()) || HaveNetrc(options_.netrcFile);
  if (!credentials || !untried(Scheme::Ntlm) || !untried(Scheme::Basic)) return Scheme::None;
  if (offered & CURLAUTH_NTLM) return Scheme::Ntlm;
  if (offered & CURLAUTH_BASIC) return Scheme::Basic;
  return Scheme::None;
}

void Transport::Use(Scheme scheme) {
  CURL* c = curl_.get();
  if (!c) return;
  scheme_ = scheme;
  // One scheme at a time, so that libcurl sends it at once instead of probing again.
  switch (scheme) {
    case Scheme::None:
      // Without a user libcurl sends no Authorization: the first request asks what the server
      // takes.
      curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_NEGOTIATE | CURLAUTH_NTLM | CURLAUTH_BASIC);
      curl_easy_setopt(c, CURLOPT_USERNAME, nullptr);
      curl_easy_setopt(c, CURLOPT_PASSWORD, nullptr);
      curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
      return;
    case Scheme::Negotiate:
      // The ticket alone; libcurl wants a user name for it, and an empty one keeps the
      // password out of this scheme.
      curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_NEGOTIATE);
      curl_easy_setopt(c, CURLOPT_USERPWD, ":");
      curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
      return;
    case Scheme::Ntlm:
    case Scheme::Basic:
      curl_easy_setopt(c, CURLOPT_HTTPAUTH,
                       scheme == Scheme::Ntlm ? CURLAUTH_NTLM : CURLAUTH_BASIC);
      if (!options_.user.empty() && !options_.password.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, options_.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, options_.password.c_str());
        curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
      } else if (!options_.user.empty()) {
        // The user's password from the netrc entry with that login.
        curl_easy_setopt(c, CURLOPT_USERNAME, options_.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, nullptr);
        curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
      } else {
        curl_easy_setopt(c, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(c, CURLOPT_PASSWORD, nullptr);
        curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
      }
      return;
  }
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
  return r;
}

}  // namespace oa::ews
