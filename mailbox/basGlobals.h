// The program's one global object: the shared mailbox session.
#pragma once

#include <memory>

#include "mailbox/model/rdo.h"

namespace oa {

// Empty until the first run creates it; logged off and released when the window unloads.
// One per thread: each job of a parallel batch is a window of its own.
extern thread_local std::shared_ptr<mailbox::RDOSession> RDO;

}  // namespace oa
