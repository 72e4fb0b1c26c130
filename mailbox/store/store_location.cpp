#include "mailbox/store/store_location.h"

#include <sys/stat.h>

#include <cstdlib>

namespace oa::store {
namespace {

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = s[s.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != suffix[i]) return false;
  }
  return true;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string StoreDirectory() {
  if (const char* d = std::getenv("OA_STORE_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
    return std::string(x) + "/ondavel/stores";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/share/ondavel/stores";
}

StoreLocation LocateStore(const std::string& server) {
  if (server.empty()) return {};
  if (server.find('/') != std::string::npos || EndsWithNoCase(server, ".oastore")) {
    return {true, server};
  }
  const std::string named = StoreDirectory() + "/" + server + ".oastore";
  return {IsFile(named), named};
}

}  // namespace oa::store
