// Stores: the mailbox and the public folders, reached through their distinguished folders.
#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

namespace {
constexpr int32_t PR_STORE_ENTRYID = 0x0FFB0102;

FolderRef Distinguished(const char* name, bool isPublic) {
  FolderRef r;
  r.distinguished = name;
  r.isPublic = isPublic;
  return r;
}
}  // namespace

std::string EwsStore::EntryID() {
  if (!core_->Alive()) return "";
  std::string& known = core_->StoreEntryID(public_);
  if (!known.empty()) return known;
  // The logon asked already, and the server said why there is none.
  if (public_ && core_->publicStoreMissing()) {
    Err() = *core_->publicStoreMissing();
    return "";
  }
  auto folder = core_->GetFolder(
      Distinguished(public_ ? "publicfoldersroot" : "msgfolderroot", public_), {PR_STORE_ENTRYID});
  if (!folder) return "";
  const std::vector<uint8_t> bytes = remote::BytesOf(folder->props[PR_STORE_ENTRYID]);
  if (bytes.empty()) {
    Err().Raise(MAPI_E_NOT_FOUND, "The server did not give the store's entry ID.");
    return "";
  }
  known = HexEncode(bytes);
  return known;
}

std::string EwsStore::Name() {
  if (!core_->Alive()) return "";
  return public_ ? "Public Folders" : core_->displayName();
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsStore::RootFolder() {
  if (!core_->Alive()) return nullptr;
  FolderData d;
  d.ref = Distinguished(public_ ? "publicfoldersroot" : "root", public_);
  return std::make_shared<EwsFolder>(core_, d);
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsStore::IPMRootFolder() {
  if (!core_->Alive()) return nullptr;
  FolderData d;
  d.ref = Distinguished(public_ ? "publicfoldersroot" : "msgfolderroot", public_);
  return std::make_shared<EwsFolder>(core_, d);
}

// Entry IDs here are the long-term IDs the server converted: the same object has the same bytes.
bool EwsStore::CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) {
  if (!core_->Alive()) return false;
  auto a = CheckedHex(entryID1);
  if (!a) return false;
  auto b = CheckedHex(entryID2);
  if (!b) return false;
  return *a == *b;
}

std::shared_ptr<oa::mailbox::RDOStore> EwsStores::DefaultStore() {
  if (!core_->Alive()) return nullptr;
  return core_->Store(false);
}

std::shared_ptr<oa::mailbox::RDOStore> EwsStores::FindExchangePublicFoldersStore() {
  if (!core_->Alive()) return nullptr;
  auto store = core_->Store(true);
  // Only a store whose folders the server can show exists.
  if (store->EntryID().empty()) return nullptr;
  return store;
}

}  // namespace oa::ews
