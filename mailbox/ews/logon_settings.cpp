#include "mailbox/ews/logon_settings.h"

#include <unistd.h>

namespace oa::ews {

EwsOptions LogonSettings::ForLogon(const std::string& host) {
  // Held while the user is asked: the logons that wait for the answer then take it.
  std::lock_guard lock(mutex_);
  EwsOptions o = options_;
  if (o.password.empty() && o.storedLogon) {
    if (auto stored = o.storedLogon(host)) {
      o.user = std::move(stored->user);
      o.password = std::move(stored->password);
      o.credentialsFrom = std::move(stored->from);
      return o;
    }
  }
  if (o.user.empty() || !o.password.empty() || !o.askPassword) return o;
  if (!o.netrcFile.empty() && access(o.netrcFile.c_str(), R_OK) == 0) return o;
  auto ask = std::move(o.askPassword);
  o.askPassword = nullptr;
  if (auto password = ask(o.user)) o.password = std::move(*password);
  options_ = o;
  return o;
}

}  // namespace oa::ews
