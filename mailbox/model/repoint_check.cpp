// The reads a repoint needs, tried through the session's own calls.
#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/rdo.h"

namespace oa::mailbox {

namespace {

bool Fail(const std::string& why) {
  if (!Err().Pending()) Err().Raise(ConstMAPI::MAPI_E_NOT_FOUND, why);
  return false;
}

}  // namespace

bool CheckRepointReadsThrough(RDOSession& session, const std::string& messageEntryID,
                              RDOFolder& folder) {
  const ErrObject before = Err();
  Err().Clear();
  std::shared_ptr<RDOMail> message = session.GetMessageFromID(messageEntryID, "");
  if (!message) return Fail("The message " + messageEntryID + " cannot be opened by its entry ID.");
  if (message->EntryID().empty()) return Fail("The message's entry ID cannot be read.");
  if (folder.EntryID().empty()) return Fail("The folder's entry ID cannot be read.");
  Err() = before;
  return true;
}

}  // namespace oa::mailbox
