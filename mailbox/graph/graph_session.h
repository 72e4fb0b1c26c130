// The Microsoft Graph backend's one public entry: a new session of its own.
#pragma once

#include <memory>

#include "mailbox/graph/graph_options.h"
#include "mailbox/model/rdo.h"
#include "mailbox/remote/waiter.h"

namespace oa::graph {

// It signs in with `options`. Its calls wait out a busy service through `waiter` (none: they
// only sleep, and nothing but Logoff cuts them short).
std::shared_ptr<oa::mailbox::RDOSession> NewGraphSession(
    GraphOptions options, std::shared_ptr<remote::Waiter> waiter = nullptr);

}  // namespace oa::graph
