#include "mailbox/model/read_only_session.h"

#include <utility>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {

void RefusedCalls::Add(RefusedCall call) {
  std::lock_guard lock(mu_);
  calls_.push_back(std::move(call));
}

std::vector<RefusedCall> RefusedCalls::All() {
  std::lock_guard lock(mu_);
  return calls_;
}

size_t RefusedCalls::Count() {
  std::lock_guard lock(mu_);
  return calls_.size();
}

namespace {

using Refused = std::shared_ptr<RefusedCalls>;

// Records the refusal and raises it as the call's error.
template <class T>
void Refuse(const Refused& refused, const char* operation, T& object) {
  std::string target;
  {
    ErrScope scope;
    target = object.EntryID();
  }
  refused->Add({operation, std::move(target)});
  Err().Raise(ConstMAPI::MAPI_E_NO_ACCESS, kReadOnlyRefusal);
}

std::shared_ptr<RDOStore> Wrap(std::shared_ptr<RDOStore> inner, const Refused& refused);
std::shared_ptr<RDOFolder> Wrap(std::shared_ptr<RDOFolder> inner, const Refused& refused);
std::shared_ptr<RDOMail> Wrap(std::shared_ptr<RDOMail> inner, const Refused& refused);

class ReadOnlyStore : public RDOStore {
 public:
  ReadOnlyStore(std::shared_ptr<RDOStore> inner, Refused refused)
      : inner_(std::move(inner)), refused_(std::move(refused)) {}
  std::string EntryID() override { return inner_->EntryID(); }
  std::string Name() override { return inner_->Name(); }
  std::shared_ptr<RDOFolder> RootFolder() override { return Wrap(inner_->RootFolder(), refused_); }
  std::shared_ptr<RDOFolder> IPMRootFolder() override {
    return Wrap(inner_->IPMRootFolder(), refused_);
  }
  bool CompareEntryIDs(const std::string& a, const std::string& b) override {
    return inner_->CompareEntryIDs(a, b);
  }

 private:
  std::shared_ptr<RDOStore> inner_;
  Refused refused_;
};

class ReadOnlyStores : public RDOStores {
 public:
  ReadOnlyStores(std::shared_ptr<RDOStores> inner, Refused refused)
      : inner_(std::move(inner)), refused_(std::move(refused)) {}
  std::shared_ptr<RDOStore> DefaultStore() override {
    return Wrap(inner_->DefaultStore(), refused_);
  }
  std::shared_ptr<RDOStore> FindExchangePublicFoldersStore() override {
    return Wrap(inner_->FindExchangePublicFoldersStore(), refused_);
  }

 private:
  std::shared_ptr<RDOStores> inner_;
  Refused refused_;
};

class ReadOnlyFolders : public RDOFolders {
 public:
  ReadOnlyFolders(std::shared_ptr<RDOFolders> inner, std::shared_ptr<RDOFolder> parent,
                  Refused refused)
      : inner_(std::move(inner)), parent_(std::move(parent)), refused_(std::move(refused)) {}
  int32_t Count() override { return inner_->Count(); }
  std::shared_ptr<RDOFolder> Item(int32_t index) override {
    return Wrap(inner_->Item(index), refused_);
  }
  std::shared_ptr<RDOFolder> Item(const std::string& name) override {
    return Wrap(inner_->Item(name), refused_);
  }
  std::shared_ptr<RDOFolder> Add(const std::string&) override {
    Refuse(refused_, "Folders.Add", *parent_);
    return nullptr;
  }

 private:
  std::shared_ptr<RDOFolders> inner_;
  std::shared_ptr<RDOFolder> parent_;
  Refused refused_;
};

class ReadOnlyItems : public RDOItems {
 public:
  ReadOnlyItems(std::shared_ptr<RDOItems> inner, Refused refused)
      : inner_(std::move(inner)), refused_(std::move(refused)) {}
  int32_t Count() override { return inner_->Count(); }
  std::shared_ptr<RDOMail> Item(int32_t index) override {
    return Wrap(inner_->Item(index), refused_);
  }
  std::shared_ptr<RDOMail> GetFirst() override { return Wrap(inner_->GetFirst(), refused_); }
  // Columns and a filter are the table's view, not the mailbox's contents.
  std::shared_ptr<oa::mailbox::MAPITable> MAPITable() override { return inner_->MAPITable(); }

 private:
  std::shared_ptr<RDOItems> inner_;
  Refused refused_;
};

// The property part messages and folders share: reads go through, writes are refused as
// KIND.Fields and KIND.Save.
template <class Interface>
class ReadOnlyProps : public Interface {
 public:
  ReadOnlyProps(std::shared_ptr<Interface> inner, Refused refused, const char* kind)
      : inner_(std::move(inner)), refused_(std::move(refused)), kind_(kind) {}
  std::string EntryID() override { return inner_->EntryID(); }
  // A name the store has no ID for yet is one no object carries: reading it needs none.
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override {
    return inner_->LookupIDsFromNames(guid, name);
  }
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override {
    return inner_->LookupIDsFromNames(guid, name);
  }
  Variant Fields(int32_t propTag) override { return inner_->Fields(propTag); }
  bool SetFields(int32_t, const Variant&) override {
    Refuse(refused_, (kind_ + ".Fields").c_str(), *inner_);
    return false;
  }
  bool Save() override {
    Refuse(refused_, (kind_ + ".Save").c_str(), *inner_);
    return false;
  }

 protected:
  std::shared_ptr<Interface> inner_;
  Refused refused_;

 private:
  std::string kind_;
};

class ReadOnlyFolder : public ReadOnlyProps<RDOFolder> {
 public:
  ReadOnlyFolder(std::shared_ptr<RDOFolder> inner, Refused refused)
      : ReadOnlyProps(std::move(inner), std::move(refused), "Folder") {}
  std::string Name() override { return inner_->Name(); }
  bool SetName(const std::string&) override {
    Refuse(refused_, "Folder.Name", *inner_);
    return false;
  }
  std::shared_ptr<RDOFolder> Parent() override { return Wrap(inner_->Parent(), refused_); }
  std::shared_ptr<RDOStore> Store() override { return Wrap(inner_->Store(), refused_); }
  std::shared_ptr<RDOItems> Items() override {
    auto items = inner_->Items();
    if (!items) return nullptr;
    return std::make_shared<ReadOnlyItems>(std::move(items), refused_);
  }
  std::shared_ptr<RDOFolders> Folders() override {
    auto folders = inner_->Folders();
    if (!folders) return nullptr;
    return std::make_shared<ReadOnlyFolders>(std::move(folders), inner_, refused_);
  }
  void Delete() override { Refuse(refused_, "Folder.Delete", *inner_); }
};

class ReadOnlyMail : public ReadOnlyProps<RDOMail> {
 public:
  ReadOnlyMail(std::shared_ptr<RDOMail> inner, Refused refused)
      : ReadOnlyProps(std::move(inner), std::move(refused), "Mail") {}
  std::string MessageClass() override { return inner_->MessageClass(); }
  std::string Subject() override { return inner_->Subject(); }
  Variant CreationTime() override { return inner_->CreationTime(); }
  std::shared_ptr<RDOStore> Store() override { return Wrap(inner_->Store(), refused_); }
  void Delete(int32_t) override { Refuse(refused_, "Mail.Delete", *inner_); }
};

std::shared_ptr<RDOStore> Wrap(std::shared_ptr<RDOStore> inner, const Refused& refused) {
  if (!inner) return nullptr;
  return std::make_shared<ReadOnlyStore>(std::move(inner), refused);
}

std::shared_ptr<RDOFolder> Wrap(std::shared_ptr<RDOFolder> inner, const Refused& refused) {
  if (!inner) return nullptr;
  return std::make_shared<ReadOnlyFolder>(std::move(inner), refused);
}

std::shared_ptr<RDOMail> Wrap(std::shared_ptr<RDOMail> inner, const Refused& refused) {
  if (!inner) return nullptr;
  return std::make_shared<ReadOnlyMail>(std::move(inner), refused);
}

class ReadOnlySession : public RDOSession {
 public:
  ReadOnlySession(std::shared_ptr<RDOSession> inner, Refused refused)
      : inner_(std::move(inner)), refused_(std::move(refused)) {}
  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override {
    inner_->LogonExchangeMailboxReadOnly(mailbox, server);
  }
  void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                    const std::string& server) override {
    inner_->LogonExchangeMailboxReadOnly(mailbox, server);
  }
  bool LoggedOn() override { return inner_->LoggedOn(); }
  void Logoff() override { inner_->Logoff(); }
  std::shared_ptr<RDOStores> Stores() override {
    auto stores = inner_->Stores();
    if (!stores) return nullptr;
    return std::make_shared<ReadOnlyStores>(std::move(stores), refused_);
  }
  std::shared_ptr<RDOFolder> GetDefaultFolder(int32_t folderType) override {
    return Wrap(inner_->GetDefaultFolder(folderType), refused_);
  }
  std::shared_ptr<RDOMail> GetMessageFromID(const std::string& entryID,
                                            const std::string& storeID) override {
    return Wrap(inner_->GetMessageFromID(entryID, storeID), refused_);
  }
  std::shared_ptr<RDOFolder> GetFolderFromID(const std::string& entryID,
                                             const std::string& storeID) override {
    return Wrap(inner_->GetFolderFromID(entryID, storeID), refused_);
  }
  // Reads only: the backend's own check runs as it would without the guard.
  bool CheckRepointReads(const std::string& messageEntryID, RDOFolder& folder) override {
    return inner_->CheckRepointReads(messageEntryID, folder);
  }

 private:
  std::shared_ptr<RDOSession> inner_;
  Refused refused_;
};

}  // namespace

std::shared_ptr<RDOSession> NewReadOnlySession(std::shared_ptr<RDOSession> inner,
                                               std::shared_ptr<RefusedCalls> refused) {
  return std::make_shared<ReadOnlySession>(std::move(inner), std::move(refused));
}

}  // namespace oa::mailbox
