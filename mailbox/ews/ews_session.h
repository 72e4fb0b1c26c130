// The Exchange Web Services backend's one public entry: a new session of its own.
#pragma once

#include <memory>

#include "mailbox/model/rdo.h"

namespace oa::ews {

std::shared_ptr<oa::mailbox::RDOSession> NewEwsSession();

}  // namespace oa::ews
