#include "base/url_origin.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <algorithm>
#include <cctype>

namespace oa {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

std::string UrlOrigin::ToString() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  std::string out = scheme + "://" + (ipv6 ? "[" + host + "]" : host);
  const int defaultPort = scheme == "https" ? 443 : 80;
  if (port != defaultPort) out += ":" + std::to_string(port);
  return out;
}

std::optional<UrlOrigin> OriginOf(const std::string& url) {
  UrlOrigin o;
  const std::string lower = Lower(url);
  size_t start;
  if (lower.rfind("https://", 0) == 0) {
    o.scheme = "https";
    o.port = 443;
    start = 8;
  } else if (lower.rfind("http://", 0) == 0) {
    o.scheme = "http";
    o.port = 80;
    start = 7;
  } else {
    return std::nullopt;
  }
  const size_t end = std::min(lower.find_first_of("/?#", start), lower.size());
  const std::string authority = lower.substr(start, end - start);
  if (authority.find('@') != std::string::npos) return std::nullopt;
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    o.host = authority.substr(1, close - 1);
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return std::nullopt;
      portText = rest.substr(1);
    }
  } else {
    const size_t colon = authority.find(':');
    o.host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
  }
  if (o.host.empty()) return std::nullopt;
  if (!portText.empty()) {
    if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(),
                                            [](unsigned char c) { return std::isdigit(c) != 0; }))
      return std::nullopt;
    o.port = std::stoi(portText);
    if (o.port < 1 || o.port > 65535) return std::nullopt;
  }
  return o;
}

bool IsLoopbackHost(const std::string& host) {
  std::string h = Lower(host);
  if (h == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, h.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

bool IsSafeServiceUrl(const std::string& url, std::string* error) {
  auto origin = OriginOf(url);
  if (!origin) {
    *error = "\"" + url + "\" is no https:// URL with a host.";
    return false;
  }
  if (origin->scheme == "http" && !IsLoopbackHost(origin->host)) {
    *error = "Unencrypted http:// is accepted only for loopback addresses; use https://.";
    return false;
  }
  return true;
}

}  // namespace oa
