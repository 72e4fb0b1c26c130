#include "mailbox/connect_mailbox.h"

#include "console/form.h"

namespace oa {

// Placeholder until the logon lands.
bool ConnectMailbox(Form& form) {
  (void)form;
  return false;
}

}  // namespace oa
