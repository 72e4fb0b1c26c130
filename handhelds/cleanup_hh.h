// The Handhelds cleanup: replaces the mailbox's Handhelds folder and points the agent at it.
#pragma once

namespace oa {

class Form;

void CleanupHH(Form& form);

}  // namespace oa
