// The Exchange Web Services backend's one public entry: a new session of its own.
#pragma once

#include <memory>

#include "mailbox/ews/logon_settings.h"
#include "mailbox/model/rdo.h"
#include "mailbox/remote/waiter.h"

namespace oa::ews {

// It logs on with `settings`, which the sessions of one registration share (a password asked
// for is asked once). Its calls wait out a busy server through `waiter` (none: they only sleep,
// and nothing but Logoff cuts them short).
std::shared_ptr<oa::mailbox::RDOSession> NewEwsSession(
    std::shared_ptr<LogonSettings> settings, std::shared_ptr<remote::Waiter> waiter = nullptr);

}  // namespace oa::ews
