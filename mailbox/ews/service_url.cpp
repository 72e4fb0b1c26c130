#include "mailbox/ews/service_url.h"

#include <algorithm>
#include <cctype>

#include "base/url_origin.h"

namespace oa::ews {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The host of "scheme://host[:port]/..." with brackets of an IPv6 literal removed; empty when
// the authority carries user information, which we never take from a server text.
std::optional<std::string> HostOf(const std::string& url, size_t schemeLength) {
  std::string authority = url.substr(schemeLength, url.find('/', schemeLength) - schemeLength);
  if (authority.find('@') != std::string::npos) return std::nullopt;
  if (!authority.empty() && authority[0] == '[') {
    auto close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    return authority.substr(1, close - 1);
  }
  return authority.substr(0, authority.find(':'));
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  return oa::IsLoopbackHost(host);
}

std::optional<std::string> ServiceUrl(const std::string& server, std::string* error) {
  std::string lower = Lower(server);
  if (server.empty() || server.find_first_of(" \t\r\n") != std::string::npos) {
    *error = "The server name is no host name or service URL.";
    return std::nullopt;
  }
  for (const char* scheme : {"https://", "http://"}) {
    if (!StartsWith(lower, scheme)) continue;
    size_t len = std::string(scheme).size();
    auto host = HostOf(server, len);
    if (!host) {
      *error = "User names and passwords are not accepted in the server URL.";
      return std::nullopt;
    }
    if (host->empty()) {
      *error = "The server URL names no host.";
      return std::nullopt;
    }
    if (len == 7 && !IsLoopbackHost(*host)) {
      *error = "Unencrypted http:// is accepted only for loopback addresses; use https://.";
      return std::nullopt;
    }
    return server;
  }
  if (lower.find("://") != std::string::npos || server.find('/') != std::string::npos ||
      server.find('@') != std::string::npos) {
    *error = "The server name is no host name or https:// URL.";
    return std::nullopt;
  }
  return "https://" + server + "/EWS/Exchange.asmx";
}

}  // namespace oa::ews
