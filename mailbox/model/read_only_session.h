// A session that cannot change the mailbox: every reading call goes through to the session it
// wraps, and every call that would write (a delete, a save, a property or name set, a folder
// added, a named-property ID given out) is refused with MAPI_E_NO_ACCESS and recorded. A dry run
// works through it, so that a branch that forgets it is a dry run still writes nothing.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mailbox/model/rdo.h"

namespace oa::mailbox {

// One call the guard refused: "Object.Operation" as faults name it, and the entry ID of the
// object it was made on (empty when that could not be read).
struct RefusedCall {
  std::string operation;
  std::string target;
};

class RefusedCalls {
 public:
  void Add(RefusedCall call);
  std::vector<RefusedCall> All();
  size_t Count();

 private:
  std::mutex mu_;
  std::vector<RefusedCall> calls_;
};

inline constexpr const char* kReadOnlyRefusal =
    "Refused: this session changes nothing in the mailbox (dry run).";

std::shared_ptr<RDOSession> NewReadOnlySession(std::shared_ptr<RDOSession> inner,
                                               std::shared_ptr<RefusedCalls> refused);

}  // namespace oa::mailbox
