// Which URL a server text names: a bare host HOST is https://HOST/EWS/Exchange.asmx, a text
// that starts with https:// is the service URL itself, http:// is for loopback addresses only.
#pragma once

#include <optional>
#include <string>

namespace oa::ews {

// The service URL, or nullopt with *error saying why the text names none.
std::optional<std::string> ServiceUrl(const std::string& server, std::string* error);

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(const std::string& host);

}  // namespace oa::ews
