#include "mailbox/basGlobals.h"

namespace oa {

thread_local std::shared_ptr<mailbox::RDOSession> RDO;

}  // namespace oa
