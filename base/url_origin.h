// Where a URL leads, as far as trust goes: its scheme, host and port. A credential configured
// for one origin is sent to that origin only, and only over TLS unless the host is this machine.
#pragma once

#include <optional>
#include <string>

namespace oa {

struct UrlOrigin {
  std::string scheme;  // "https" or "http"
  std::string host;    // lower case; an IPv6 literal without its brackets
  int port = 0;        // the default port made explicit
  bool operator==(const UrlOrigin&) const = default;
  // "https://graph.microsoft.com", the port shown only when it is not the scheme's default.
  std::string ToString() const;
};

// The origin of an absolute http:// or https:// URL; nullopt for any other text, a URL with
// user information, no host or a port that is no number from 1 to 65535.
std::optional<UrlOrigin> OriginOf(const std::string& url);

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(const std::string& host);

// Whether a service URL may carry a secret: https://, or http:// to a loopback host. False with
// *error saying why not.
bool IsSafeServiceUrl(const std::string& url, std::string* error);

}  // namespace oa
