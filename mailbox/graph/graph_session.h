// The Microsoft Graph backend's one public entry: a new session of its own.
#pragma once

#include <memory>

#include "mailbox/model/rdo.h"

namespace oa::graph {

std::shared_ptr<oa::mailbox::RDOSession> NewGraphSession();

}  // namespace oa::graph
