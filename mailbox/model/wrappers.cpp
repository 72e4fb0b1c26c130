#include "mailbox/model/wrappers.h"

#include <type_traits>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {

// A base that misses a call of its interface is abstract.
static_assert(!std::is_abstract_v<SessionWrapper>);
static_assert(!std::is_abstract_v<StoreWrapper>);
static_assert(!std::is_abstract_v<StoresWrapper>);
static_assert(!std::is_abstract_v<FolderWrapper>);
static_assert(!std::is_abstract_v<FoldersWrapper>);
static_assert(!std::is_abstract_v<ItemsWrapper>);
static_assert(!std::is_abstract_v<MailWrapper>);

bool SessionWrapper::HasTarget() {
  if (target_) return true;
  Err().Raise(ConstMAPI::MAPI_E_NOT_INITIALIZED, "The session is not logged on.");
  return false;
}

void SessionWrapper::LogonExchangeMailbox(const std::string& mailbox, const std::string& server) {
  if (HasTarget()) target_->LogonExchangeMailbox(mailbox, server);
}

void SessionWrapper::LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                                  const std::string& server) {
  if (HasTarget()) target_->LogonExchangeMailboxReadOnly(mailbox, server);
}

bool SessionWrapper::LoggedOn() {
  return target_ && target_->LoggedOn();
}

void SessionWrapper::Logoff() {
  if (target_) target_->Logoff();
}

std::shared_ptr<RDOStores> SessionWrapper::Stores() {
  return HasTarget() ? target_->Stores() : nullptr;
}

std::shared_ptr<RDOFolder> SessionWrapper::GetDefaultFolder(int32_t folderType) {
  return HasTarget() ? target_->GetDefaultFolder(folderType) : nullptr;
}

std::shared_ptr<RDOMail> SessionWrapper::GetMessageFromID(const std::string& entryID,
                                                          const std::string& storeID) {
  return HasTarget() ? target_->GetMessageFromID(entryID, storeID) : nullptr;
}

std::shared_ptr<RDOFolder> SessionWrapper::GetFolderFromID(const std::string& entryID,
                                                           const std::string& storeID) {
  return HasTarget() ? target_->GetFolderFromID(entryID, storeID) : nullptr;
}

void SessionWrapper::SendHeldBack() {
  if (target_) target_->SendHeldBack();
}

bool SessionWrapper::CheckRepointReads(const std::string& messageEntryID, RDOFolder& folder) {
  return HasTarget() && target_->CheckRepointReads(messageEntryID, folder);
}

}  // namespace oa::mailbox
