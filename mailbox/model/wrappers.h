// Forwarding bases for the object model, one for each interface a session wrapper wraps: each
// holds the object it wraps (its target) and passes every call on to it unchanged. A wrapper
// derives from one and overrides only the calls it changes, so that no call is dropped on the
// way: every call of an interface is pure, and a base that does not forward one cannot be made.
//
// A base hands out its target's own objects; a wrapper that wraps those overrides the calls
// that hand them out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "mailbox/model/rdo.h"

namespace oa::mailbox {

// The session's target may change (a router picks one at each logon) and may be missing:
// without one, LoggedOn is false, Logoff and SendHeldBack do nothing, and every other call
// fails with MAPI_E_NOT_INITIALIZED.
class SessionWrapper : public RDOSession {
 public:
  explicit SessionWrapper(std::shared_ptr<RDOSession> target) : target_(std::move(target)) {}

  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override;
  void LogonExchangeMailboxReadOnly(const std::string& mailbox, const std::string& server) override;
  bool LoggedOn() override;
  void Logoff() override;
  std::shared_ptr<RDOStores> Stores() override;
  std::shared_ptr<RDOFolder> GetDefaultFolder(int32_t folderType) override;
  std::shared_ptr<RDOMail> GetMessageFromID(const std::string& entryID,
                                            const std::string& storeID) override;
  std::shared_ptr<RDOFolder> GetFolderFromID(const std::string& entryID,
                                             const std::string& storeID) override;
  void SendHeldBack() override;
  bool CheckRepointReads(const std::string& messageEntryID, RDOFolder& folder) override;

 protected:
  const std::shared_ptr<RDOSession>& target() const { return target_; }
  void Retarget(std::shared_ptr<RDOSession> target) { target_ = std::move(target); }
  // True with a target; otherwise false, with MAPI_E_NOT_INITIALIZED raised.
  bool HasTarget();

 private:
  std::shared_ptr<RDOSession> target_;
};

// The targets below are never null.

class StoreWrapper : public RDOStore {
 public:
  explicit StoreWrapper(std::shared_ptr<RDOStore> target) : target_(std::move(target)) {}
  std::string EntryID() override { return target_->EntryID(); }
  std::string Name() override { return target_->Name(); }
  std::shared_ptr<RDOFolder> RootFolder() override { return target_->RootFolder(); }
  std::shared_ptr<RDOFolder> IPMRootFolder() override { return target_->IPMRootFolder(); }
  bool CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) override {
    return target_->CompareEntryIDs(entryID1, entryID2);
  }

 protected:
  const std::shared_ptr<RDOStore>& target() const { return target_; }

 private:
  std::shared_ptr<RDOStore> target_;
};

class StoresWrapper : public RDOStores {
 public:
  explicit StoresWrapper(std::shared_ptr<RDOStores> target) : target_(std::move(target)) {}
  std::shared_ptr<RDOStore> DefaultStore() override { return target_->DefaultStore(); }
  std::shared_ptr<RDOStore> FindExchangePublicFoldersStore() override {
    return target_->FindExchangePublicFoldersStore();
  }

 protected:
  const std::shared_ptr<RDOStores>& target() const { return target_; }

 private:
  std::shared_ptr<RDOStores> target_;
};

// The property calls folders and messages share.
template <class Interface>
class PropWrapper : public Interface {
 public:
  using Wrapped = Interface;
  explicit PropWrapper(std::shared_ptr<Interface> target) : target_(std::move(target)) {}
  std::string EntryID() override { return target_->EntryID(); }
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override {
    return target_->GetIDsFromNames(guid, name);
  }
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override {
    return target_->LookupIDsFromNames(guid, name);
  }
  Variant Fields(int32_t propTag) override { return target_->Fields(propTag); }
  bool SetFields(int32_t propTag, const Variant& value) override {
    return target_->SetFields(propTag, value);
  }
  bool Save() override { return target_->Save(); }

 protected:
  const std::shared_ptr<Interface>& target() const { return target_; }

 private:
  std::shared_ptr<Interface> target_;
};

class FolderWrapper : public PropWrapper<RDOFolder> {
 public:
  using PropWrapper::PropWrapper;
  std::string Name() override { return target()->Name(); }
  bool SetName(const std::string& name) override { return target()->SetName(name); }
  std::shared_ptr<RDOFolder> Parent() override { return target()->Parent(); }
  std::shared_ptr<RDOStore> Store() override { return target()->Store(); }
  std::shared_ptr<RDOItems> Items() override { return target()->Items(); }
  std::shared_ptr<RDOFolders> Folders() override { return target()->Folders(); }
  void Delete() override { target()->Delete(); }
};

class FoldersWrapper : public RDOFolders {
 public:
  explicit FoldersWrapper(std::shared_ptr<RDOFolders> target) : target_(std::move(target)) {}
  int32_t Count() override { return target_->Count(); }
  std::shared_ptr<RDOFolder> Item(int32_t index) override { return target_->Item(index); }
  std::shared_ptr<RDOFolder> Item(const std::string& name) override { return target_->Item(name); }
  std::shared_ptr<RDOFolder> Add(const std::string& name) override { return target_->Add(name); }

 protected:
  const std::shared_ptr<RDOFolders>& target() const { return target_; }

 private:
  std::shared_ptr<RDOFolders> target_;
};

class ItemsWrapper : public RDOItems {
 public:
  explicit ItemsWrapper(std::shared_ptr<RDOItems> target) : target_(std::move(target)) {}
  int32_t Count() override { return target_->Count(); }
  std::shared_ptr<RDOMail> Item(int32_t index) override { return target_->Item(index); }
  std::shared_ptr<RDOMail> GetFirst() override { return target_->GetFirst(); }
  std::shared_ptr<oa::mailbox::MAPITable> MAPITable() override { return target_->MAPITable(); }
  int32_t TakeRefusedDeletes(bool settle) override { return target_->TakeRefusedDeletes(settle); }

 protected:
  const std::shared_ptr<RDOItems>& target() const { return target_; }

 private:
  std::shared_ptr<RDOItems> target_;
};

class MailWrapper : public PropWrapper<RDOMail> {
 public:
  using PropWrapper::PropWrapper;
  std::string MessageClass() override { return target()->MessageClass(); }
  std::string Subject() override { return target()->Subject(); }
  Variant CreationTime() override { return target()->CreationTime(); }
  std::shared_ptr<RDOStore> Store() override { return target()->Store(); }
  void Delete(int32_t flags) override { target()->Delete(flags); }
};

}  // namespace oa::mailbox
