#include "mailbox/basGlobals.h"

namespace oa {

std::shared_ptr<mailbox::RDOSession> RDO;

}  // namespace oa
