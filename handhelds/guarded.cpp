#include "handhelds/guarded.h"

#include "mailbox/model/const_mapi.h"

namespace oa::handhelds {

void RaiseObjectNotSet() {
  oa::Err().Raise(mailbox::ConstMAPI::ERR_OBJECT_NOT_SET,
                  "Object variable or With block variable not set");
}

}  // namespace oa::handhelds
