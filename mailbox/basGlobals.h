// The program's one global object: the shared mailbox session.
#pragma once

#include <memory>

#include "mailbox/model/rdo.h"

namespace oa {

// Empty until the first run creates it; logged off and released when the window unloads.
extern std::shared_ptr<mailbox::RDOSession> RDO;

}  // namespace oa
