// A build without Exchange Web Services: there is no session to hand out, and the caller says
// which server could not be reached.
#include "mailbox/ews/ews_session.h"

namespace oa::ews {

std::shared_ptr<oa::mailbox::RDOSession> NewEwsSession(std::shared_ptr<LogonSettings>,
                                                       std::shared_ptr<remote::Waiter>) {
  return nullptr;
}

}  // namespace oa::ews
