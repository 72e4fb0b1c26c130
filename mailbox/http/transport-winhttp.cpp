// The transport on Windows: WinHTTP, with Windows' certificate store and proxy settings. One
// session and one connection handle live as long as the transport, so WinHTTP keeps the
// connection (and the NTLM or Negotiate logon on it) alive between requests.
#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "mailbox/http/auth_order.h"
#include "mailbox/http/transport.h"

namespace oa::http {
namespace {

// A server that keeps answering 401 gets no more than this many answers per request (WinHTTP
// and some servers would otherwise go round without end).
constexpr int kMaxAuthRounds = 4;

struct HandleCloser {
  void operator()(void* h) const { ::WinHttpCloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int size = static_cast<int>(w.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), size, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, w.data(), size, s.data(), n, nullptr, nullptr);
  return s;
}

Failure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return Failure::TlsVerify;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
      return Failure::Tls;
    case ERROR_WINHTTP_TIMEOUT:
      return Failure::Timeout;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return Failure::Unreachable;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return Failure::Dropped;
    case ERROR_WINHTTP_LOGIN_FAILURE:
      return Failure::LoginDenied;
    default:
      return Failure::Other;
  }
}

// WinHTTP's own text for one of its errors, with the number.
std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                       FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   ::GetModuleHandleW(L"winhttp.dll"), error, 0,
                                   reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text ? std::wstring(text, n) : L"";
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return (message.empty() ? "WinHTTP error" : Utf8(message)) + " (error " + std::to_string(error) +
         ")";
}

struct Target {
  std::wstring host, path;
  INTERNET_PORT port = 0;
  bool secure = true;
};

bool Crack(const std::string& url, Target* t) {
  const std::wstring w = Wide(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(w.c_str(), static_cast<DWORD>(w.size()), 0, &parts)) return false;
  t->host.assign(parts.lpszHostName, parts.dwHostNameLength);
  t->path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  t->path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (t->path.empty()) t->path = L"/";
  t->port = parts.nPort;
  t->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

// Synchronous WinHTTP calls end when another thread closes their request handle, and that is how
// a cancel reaches a request in flight: the watcher asks the check every 100 ms and, once it
// answers true, closes the handle, which it then owns. The request's thread takes the handle
// back in Finish(), under the same lock, so the handle is closed exactly once.
class CancelWatcher {
 public:
  CancelWatcher(Handle* request, const std::function<bool()>& cancelled) : request_(request) {
    if (cancelled) thread_ = std::thread([this, cancelled] { Watch(cancelled); });
  }
  ~CancelWatcher() { Finish(); }
  CancelWatcher(const CancelWatcher&) = delete;
  CancelWatcher& operator=(const CancelWatcher&) = delete;

  // Stops the watching; true when the watcher closed the handle.
  bool Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    return fired_;
  }

 private:
  void Watch(const std::function<bool()>& cancelled) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      wake_.wait_for(lock, std::chrono::milliseconds(100));
      if (done_) return;
      lock.unlock();
      const bool stop = cancelled();
      lock.lock();
      if (stop && !done_) {
        fired_ = true;
        // The handle is closed here; the request's thread sees its call fail and must not
        // close it again.
        ::WinHttpCloseHandle(request_->release());
        return;
      }
    }
  }

  Handle* request_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false, fired_ = false;
  std::thread thread_;
};

}  // namespace

struct Transport::Impl {
  explicit Impl(TransportOptions o) : options(std::move(o)) {}
  HttpResult Perform(const HttpRequest& request);
  // The request on the handle given, which a cancel closes from the watcher's thread.
  HttpResult PerformWith(const HttpRequest& request, Handle* req);
  // Opens the connection to the request's server, when it is not the one held.
  bool Connect(const Target& target);
  // After a 401: credentials for the strongest scheme offered; false when none is left.
  // Sets the configured credentials for the next scheme in order (NextAuthScheme) that this
  // request has not tried; false when none is left.
  bool Answer401(HINTERNET request, unsigned* tried);
  std::wstring Headers(const std::vector<std::string>& extra) const;

  TransportOptions options;
  Handle session, connection;
  std::wstring connectedHost;
  INTERNET_PORT connectedPort = 0;
  long connects = 0;
  std::function<bool()> cancelled;
};

Transport::Transport(TransportOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  // The system's proxy settings (WinHTTP's automatic proxy, where the system has one).
  impl_->session.reset(::WinHttpOpen(L"ondavel Agent Cleanup", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!impl_->session)
    impl_->session.reset(::WinHttpOpen(L"ondavel Agent Cleanup", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!impl_->session) return;
  const TransportOptions& o = impl_->options;
  ::WinHttpSetTimeouts(impl_->session.get(), static_cast<int>(o.connectTimeoutMs),
                       static_cast<int>(o.connectTimeoutMs), static_cast<int>(o.timeoutMs),
                       static_cast<int>(o.timeoutMs));
}

Transport::~Transport() = default;

long Transport::connectsMade() const {
  return impl_->connects;
}

void Transport::Close() {
  impl_->connection.reset();
  impl_->session.reset();
}

void Transport::SetHeaders(const std::vector<std::string>& headers) {
  impl_->options.headers = headers;
}

std::wstring Transport::Impl::Headers(const std::vector<std::string>& extra) const {
  std::string text = "Content-Type: " + options.contentType + "\r\nAccept: " + options.accept;
  for (const auto& h : options.headers) text += "\r\n" + h;
  for (const auto& h : extra) text += "\r\n" + h;
  return Wide(text);
}

bool Transport::Impl::Connect(const Target& target) {
  if (connection && connectedHost == target.host && connectedPort == target.port) return true;
  connection.reset(::WinHttpConnect(session.get(), target.host.c_str(), target.port, 0));
  if (!connection) return false;
  connectedHost = target.host;
  connectedPort = target.port;
  ++connects;
  return true;
}

bool Transport::Impl::Answer401(HINTERNET request, unsigned* tried) {
  DWORD supported = 0, first = 0, target = 0;
  if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
  // Without credentials WinHTTP has answered with the signed-in user's logon already.
  if (options.user.empty() || options.password.empty()) return false;
  const unsigned offered = ((supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? kAuthNegotiate : 0u) |
                           ((supported & WINHTTP_AUTH_SCHEME_NTLM) ? kAuthNtlm : 0u) |
                           ((supported & WINHTTP_AUTH_SCHEME_BASIC) ? kAuthBasic : 0u);
  const unsigned next = NextAuthScheme(offered, *tried, true);
  if (next == kAuthNone) return false;
  *tried |= next;
  const DWORD scheme = next == kAuthNegotiate ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                       : next == kAuthNtlm    ? WINHTTP_AUTH_SCHEME_NTLM
                                              : WINHTTP_AUTH_SCHEME_BASIC;
  const std::wstring user = Wide(options.user), password = Wide(options.password);
  return ::WinHttpSetCredentials(request, target, scheme, user.c_str(), password.c_str(),
                                 nullptr) != FALSE;
}

void Transport::SetCancelCheck(std::function<bool()> cancelled) {
  impl_->cancelled = std::move(cancelled);
}

HttpResult Transport::Send(const HttpRequest& request) {
  return impl_->Perform(request);
}

HttpResult Transport::Impl::Perform(const HttpRequest& request) {
  Handle req;
  HttpResult r = PerformWith(request, &req);
  if (r.failure != Failure::None) r.body.clear();
  return r;
}

HttpResult Transport::Impl::PerformWith(const HttpRequest& request, Handle* reqHandle) {
  HttpResult r;
  auto fail = [&r](DWORD error) {
    r.failure = FailureOf(error);
    r.failureText = ErrorText(error);
    return r;
  };
  if (!session) {
    r.failure = Failure::Init;
    r.failureText = "The HTTP client could not be initialised.";
    return r;
  }
  if (!options.caFile.empty()) {
    r.failure = Failure::Init;
    r.failureText =
        "a CA file is not used on Windows: add the certificate to the Windows certificate store";
    return r;
  }
  Target target;
  if (!Crack(request.url.empty() ? options.url : request.url, &target))
    return fail(::GetLastError());
  if (!Connect(target)) return fail(::GetLastError());
  Handle& req = *reqHandle;
  req.reset(::WinHttpOpenRequest(
      connection.get(), Wide(request.method).c_str(), target.path.c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!req) return fail(::GetLastError());
  DWORD maxHeaders = static_cast<DWORD>(kMaxHeaderBytes);
  ::WinHttpSetOption(req.get(), WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &maxHeaders,
                     sizeof maxHeaders);
  // From here on the handle is used through h: the watcher may take it out of req.
  HINTERNET const h = req.get();
  // A request begun after the cancel (a cancelled run's last count, its logoff) runs to its end.
  const std::function<bool()> check = cancelled && !cancelled() ? cancelled : nullptr;
  CancelWatcher watcher(&req, check);
  // A failed call after the watcher closed the handle was the cancel.
  auto failOrCancel = [&](DWORD error) {
    if (watcher.Finish()) {
      r.failure = Failure::Cancelled;
      r.failureText = "the request was cancelled";
      return r;
    }
    return fail(error);
  };
  // The signed-in user's logon for any server, as the mail client on the desktop does.
  DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
  ::WinHttpSetOption(h, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy);
  const std::wstring headers = Headers(request.headers);
  unsigned tried = kAuthNone;
  for (int round = 0;; ++round) {
    void* body =
        request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    const auto size = static_cast<DWORD>(request.body.size());
    if (!::WinHttpSendRequest(h, headers.c_str(), static_cast<DWORD>(headers.size()), body, size,
                              size, 0) ||
        !::WinHttpReceiveResponse(h, nullptr))
      return failOrCancel(::GetLastError());
    DWORD status = 0, len = sizeof status;
    ::WinHttpQueryHeaders(h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &len, WINHTTP_NO_HEADER_INDEX);
    r.status = static_cast<long>(status);
    if (status != 401 || round + 1 >= kMaxAuthRounds || !Answer401(h, &tried)) break;
  }
  wchar_t retry[64];
  DWORD retryLen = sizeof retry;
  if (::WinHttpQueryHeaders(h, WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX, retry,
                            &retryLen, WINHTTP_NO_HEADER_INDEX))
    r.retryAfter = Utf8(std::wstring(retry, retryLen / sizeof(wchar_t)));
  while (true) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(h, &available)) return failOrCancel(::GetLastError());
    if (available == 0) break;
    const size_t at = r.body.size();
    if (available > kMaxResponseBody - at) {
      r.failure = Failure::TooLarge;
      r.failureText =
          "the answer's body is larger than " + std::to_string(kMaxResponseBody >> 20) + " MiB";
      return r;
    }
    r.body.resize(at + available);
    DWORD read = 0;
    if (!::WinHttpReadData(h, r.body.data() + at, available, &read))
      return failOrCancel(::GetLastError());
    r.body.resize(at + read);
  }
  if (watcher.Finish()) {
    r.failure = Failure::Cancelled;
    r.failureText = "the request was cancelled";
  }
  return r;
}

}  // namespace oa::http
