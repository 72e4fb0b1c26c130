#include <curl/curl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <mutex>
#include <string_view>

#include "base/secret_file.h"
#include "mailbox/http/auth_order.h"
#include "mailbox/http/transport.h"

namespace oa::http {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What one transfer has read so far, and why the callbacks stopped it, if they did.
struct Reading {
  std::string* body = nullptr;
  std::string* retryAfter = nullptr;
  size_t headerBytes = 0;
  std::string tooLarge;  // the text of the limit passed
  const std::function<bool()>* cancelled = nullptr;
  bool wasCancelled = false;
};

std::string MiB(size_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

std::string KiB(size_t bytes) {
  return std::to_string(bytes >> 10) + " KiB";
}

size_t OnBody(char* data, size_t size, size_t n, void* user) {
  auto* reading = static_cast<Reading*>(user);
  const size_t bytes = size * n;
  if (bytes > kMaxResponseBody - reading->body->size()) {
    reading->tooLarge = "the answer's body is larger than " + MiB(kMaxResponseBody);
    return 0;  // libcurl ends the transfer
  }
  reading->body->append(data, bytes);
  return bytes;
}

// Whether the header line starts with the name (lower case, with its colon).
bool HeaderIs(std::string_view line, std::string_view name) {
  if (line.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  }
  return true;
}

std::string_view HeaderValue(std::string_view line, size_t nameSize) {
  std::string_view value = line.substr(nameSize);
  const auto b = value.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const auto e = value.find_last_not_of(" \t\r\n");
  return value.substr(b, e - b + 1);
}

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
  auto* reading = static_cast<Reading*>(user);
  const size_t bytes = size * n;
  std::string_view line(data, bytes);
  reading->headerBytes += bytes;
  if (bytes > kMaxHeaderLine) {
    reading->tooLarge = "a header line of the answer is longer than " + KiB(kMaxHeaderLine);
    return 0;
  }
  if (reading->headerBytes > kMaxHeaderBytes) {
    reading->tooLarge = "the answer's headers are larger than " + KiB(kMaxHeaderBytes);
    return 0;
  }
  if (HeaderIs(line, "retry-after:")) {
    const std::string_view value = HeaderValue(line, 12);
    *reading->retryAfter = value.size() <= kMaxRetryAfter ? std::string(value) : "";
  }
  return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* reading = static_cast<Reading*>(user);
  if (*reading->cancelled && (*reading->cancelled)()) {
    reading->wasCancelled = true;
    return 1;  // libcurl ends the transfer with CURLE_ABORTED_BY_CALLBACK
  }
  return 0;
}

// The netrc file libcurl is given: the one configured, else ~/.netrc.
std::string NetrcPath(const std::string& file) {
  if (!file.empty()) return file;
  const passwd* pw = getpwuid(geteuid());
  return pw && pw->pw_dir ? std::string(pw->pw_dir) + "/.netrc" : std::string();
}

enum class Netrc { Absent, Usable, Refused };

// Whether the netrc file may be handed to libcurl, which would wait on a FIFO for ever and read
// a file of any size or owner: it is held to the rules of the password file. No file is fine
// (it holds no credentials); *error says why one that is there was refused.
Netrc CheckNetrc(const std::string& path, std::string* error) {
  struct stat st {};
  if (path.empty() || (::stat(path.c_str(), &st) != 0 && errno == ENOENT)) return Netrc::Absent;
  std::string why;
  if (CheckSecretFile(path, SecretFileRule::OwnerOnly, &why)) return Netrc::Usable;
  *error = "the netrc file " + why;
  return Netrc::Refused;
}

Failure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return Failure::None;
    case CURLE_FAILED_INIT:
      return Failure::Init;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return Failure::TlsVerify;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
      return Failure::Tls;
    case CURLE_OPERATION_TIMEDOUT:
      return Failure::Timeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return Failure::Unreachable;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return Failure::Dropped;
    case CURLE_LOGIN_DENIED:
      return Failure::LoginDenied;
    case CURLE_FILESIZE_EXCEEDED:
      return Failure::TooLarge;
    default:
      return Failure::Other;
  }
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

}  // namespace

struct Transport::Impl {
  // Bits, for the set of schemes tried on one request.
  enum class Scheme : unsigned {
    None = kAuthNone,
    Negotiate = kAuthNegotiate,
    Ntlm = kAuthNtlm,
    Basic = kAuthBasic
  };

  explicit Impl(TransportOptions o) : options(std::move(o)) {}
  HttpResult PerformOnce(const HttpRequest& request);
  // The scheme to try after a 401 that offered `offered` (CURLAUTH_* bits), none of `tried`.
  Scheme NextScheme(long offered, unsigned tried) const;
  void Use(Scheme scheme);
  Slist HeaderList(const std::vector<std::string>& extra) const;
  // Whether requests with this scheme take the password from the netrc file.
  bool UsesNetrc(Scheme s) const {
    return (s == Scheme::Ntlm || s == Scheme::Basic) &&
           (options.user.empty() || options.password.empty());
  }

  TransportOptions options;
  std::string netrc;  // the file libcurl reads, when it reads one
  std::unique_ptr<CURL, CurlDeleter> curl;
  Slist headers;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  long connects = 0;
  // The scheme the requests go out with; kept while the server takes it.
  Scheme scheme = Scheme::None;
  std::function<bool()> cancelled;
};

Transport::Transport(TransportOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  GlobalInit();
  impl_->curl.reset(curl_easy_init());
  CURL* c = impl_->curl.get();
  if (!c) return;
  const TransportOptions& o = impl_->options;
  SetHeaders(o.headers);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "ondavel Agent Cleanup");
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, impl_->errorBuffer);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, o.connectTimeoutMs);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, o.timeoutMs);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!o.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, o.caFile.c_str());
  // Named even when it is the default, so that libcurl reads the file that was checked.
  impl_->netrc = NetrcPath(o.netrcFile);
  if (!impl_->netrc.empty()) curl_easy_setopt(c, CURLOPT_NETRC_FILE, impl_->netrc.c_str());
  impl_->Use(Impl::Scheme::None);

  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  // An announced Content-Length over the limit is refused before any of the body is read.
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxResponseBody));
  // The progress callback asks the cancel check; libcurl calls it about once a second while the
  // server is silent, and more often while data moves.
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
}

void Transport::SetCancelCheck(std::function<bool()> cancelled) {
  impl_->cancelled = std::move(cancelled);
}

Transport::~Transport() = default;

long Transport::connectsMade() const {
  return impl_->connects;
}

void Transport::Close() {
  impl_->curl.reset();
  impl_->headers.reset();
}

Slist Transport::Impl::HeaderList(const std::vector<std::string>& extra) const {
  curl_slist* list = nullptr;
  list = curl_slist_append(list, ("Content-Type: " + options.contentType).c_str());
  list = curl_slist_append(list, ("Accept: " + options.accept).c_str());
  // No "Expect: 100-continue" pause before each body.
  list = curl_slist_append(list, "Expect:");
  for (const auto& h : options.headers) list = curl_slist_append(list, h.c_str());
  for (const auto& h : extra) list = curl_slist_append(list, h.c_str());
  return Slist(list);
}

void Transport::SetHeaders(const std::vector<std::string>& headers) {
  impl_->options.headers = headers;
  if (!impl_->curl) return;
  impl_->headers = impl_->HeaderList({});
  curl_easy_setopt(impl_->curl.get(), CURLOPT_HTTPHEADER, impl_->headers.get());
}

HttpResult Transport::Send(const HttpRequest& request) {
  Impl& d = *impl_;
  HttpResult r = d.PerformOnce(request);
  // libcurl neither moves on when the scheme it picked was refused nor uses a Kerberos ticket
  // without a user name: each scheme the server offers gets one turn here, strongest first.
  auto tried = static_cast<unsigned>(d.scheme);
  while (r.answered() && r.status == 401) {
    long offered = 0;
    curl_easy_getinfo(d.curl.get(), CURLINFO_HTTPAUTH_AVAIL, &offered);
    const Impl::Scheme next = d.NextScheme(offered, tried);
    if (next == Impl::Scheme::None) break;
    tried |= static_cast<unsigned>(next);
    d.Use(next);
    r = d.PerformOnce(request);
  }
  return r;
}

Transport::Impl::Scheme Transport::Impl::NextScheme(long offered, unsigned tried) const {
  const unsigned bits = ((offered & CURLAUTH_NEGOTIATE) ? kAuthNegotiate : 0u) |
                        ((offered & CURLAUTH_NTLM) ? kAuthNtlm : 0u) |
                        ((offered & CURLAUTH_BASIC) ? kAuthBasic : 0u);
  std::string unused;
  const bool credentials = (!options.user.empty() && !options.password.empty()) ||
                           CheckNetrc(netrc, &unused) != Netrc::Absent;
  return static_cast<Scheme>(NextAuthScheme(bits, tried, credentials));
}

void Transport::Impl::Use(Scheme next) {
  CURL* c = curl.get();
  if (!c) return;
  scheme = next;
  // One scheme at a time, so that libcurl sends it at once instead of probing again.
  switch (next) {
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
      curl_easy_setopt(c, CURLOPT_HTTPAUTH, next == Scheme::Ntlm ? CURLAUTH_NTLM : CURLAUTH_BASIC);
      if (!options.user.empty() && !options.password.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, options.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, options.password.c_str());
        curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
      } else if (!options.user.empty()) {
        // The user's password from the netrc entry with that login.
        curl_easy_setopt(c, CURLOPT_USERNAME, options.user.c_str());
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

HttpResult Transport::Impl::PerformOnce(const HttpRequest& request) {
  HttpResult r;
  CURL* c = curl.get();
  if (!c) {
    r.failure = Failure::Init;
    r.failureText = "The HTTP client could not be initialised.";
    return r;
  }
  errorBuffer[0] = '\0';
  // Checked before each request: libcurl reads the file again for each.
  if (UsesNetrc(scheme) && CheckNetrc(netrc, &r.failureText) == Netrc::Refused) {
    r.failure = Failure::Other;
    return r;
  }
  const std::string& url = request.url.empty() ? options.url : request.url;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  if (request.method == "GET") {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
  } else {
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST,
                     request.method == "POST" ? nullptr : request.method.c_str());
  }
  // This request's own header lines, for this request only.
  Slist own;
  if (!request.headers.empty()) {
    own = HeaderList(request.headers);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, own.get());
  }
  Reading reading;
  reading.body = &r.body;
  reading.retryAfter = &r.retryAfter;
  // A request begun after the cancel (a cancelled run's last count, its logoff) runs to its end.
  const std::function<bool()> check = cancelled && !cancelled() ? cancelled : nullptr;
  reading.cancelled = &check;
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &reading);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &reading);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &reading);
  const CURLcode code = curl_easy_perform(c);
  if (own) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  long made = 0;
  curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &made);
  connects += made;
  r.failure = FailureOf(code);
  if (reading.wasCancelled) {
    r.failure = Failure::Cancelled;
    r.failureText = "the request was cancelled";
  } else if (!reading.tooLarge.empty() || code == CURLE_FILESIZE_EXCEEDED) {
    r.failure = Failure::TooLarge;
    r.failureText = reading.tooLarge.empty()
                        ? "the answer's announced size is larger than " + MiB(kMaxResponseBody)
                        : reading.tooLarge;
  } else if (code != CURLE_OK) {
    r.failureText = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
  }
  if (r.failure != Failure::None) {
    // Nothing of a refused answer is kept.
    r.body.clear();
    r.body.shrink_to_fit();
    return r;
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
  return r;
}

}  // namespace oa::http
