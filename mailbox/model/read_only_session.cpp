#include "mailbox/model/read_only_session.h"

#include <utility>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/wrappers.h"

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

// Every object hands out its children wrapped, and refuses the calls that would write.

class ReadOnlyStore : public StoreWrapper {
 public:
  ReadOnlyStore(std::shared_ptr<RDOStore> inner, Refused refused)
      : StoreWrapper(std::move(inner)), refused_(std::move(refused)) {}
  std::shared_ptr<RDOFolder> RootFolder() override {
    return Wrap(target()->RootFolder(), refused_);
  }
  std::shared_ptr<RDOFolder> IPMRootFolder() override {
    return Wrap(target()->IPMRootFolder(), refused_);
  }

 private:
  Refused refused_;
};

class ReadOnlyStores : public StoresWrapper {
 public:
  ReadOnlyStores(std::shared_ptr<RDOStores> inner, Refused refused)
      : StoresWrapper(std::move(inner)), refused_(std::move(refused)) {}
  std::shared_ptr<RDOStore> DefaultStore() override {
    return Wrap(target()->DefaultStore(), refused_);
  }
  std::shared_ptr<RDOStore> FindExchangePublicFoldersStore() override {
    return Wrap(target()->FindExchangePublicFoldersStore(), refused_);
  }

 private:
  Refused refused_;
};

class ReadOnlyFolders : public FoldersWrapper {
 public:
  ReadOnlyFolders(std::shared_ptr<RDOFolders> inner, std::shared_ptr<RDOFolder> parent,
                  Refused refused)
      : FoldersWrapper(std::move(inner)),
        parent_(std::move(parent)),
        refused_(std::move(refused)) {}
  std::shared_ptr<RDOFolder> Item(int32_t index) override {
    return Wrap(target()->Item(index), refused_);
  }
  std::shared_ptr<RDOFolder> Item(const std::string& name) override {
    return Wrap(target()->Item(name), refused_);
  }
  std::shared_ptr<RDOFolder> Add(const std::string&) override {
    Refuse(refused_, "Folders.Add", *parent_);
    return nullptr;
  }

 private:
  std::shared_ptr<RDOFolder> parent_;
  Refused refused_;
};

// Columns and a filter are the table's view, not the mailbox's contents: MAPITable goes through.
class ReadOnlyItems : public ItemsWrapper {
 public:
  ReadOnlyItems(std::shared_ptr<RDOItems> inner, Refused refused)
      : ItemsWrapper(std::move(inner)), refused_(std::move(refused)) {}
  std::shared_ptr<RDOMail> Item(int32_t index) override {
    return Wrap(target()->Item(index), refused_);
  }
  std::shared_ptr<RDOMail> GetFirst() override { return Wrap(target()->GetFirst(), refused_); }

 private:
  Refused refused_;
};

// The property part messages and folders share: reads go through, writes are refused as
// KIND.Fields and KIND.Save.
template <class Wrapper>
class ReadOnlyProps : public Wrapper {
 public:
  ReadOnlyProps(std::shared_ptr<typename Wrapper::Wrapped> inner, Refused refused, const char* kind)
      : Wrapper(std::move(inner)), refused_(std::move(refused)), kind_(kind) {}
  // A name the store has no ID for yet is one no object carries: reading it needs none.
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override {
    return this->target()->LookupIDsFromNames(guid, name);
  }
  bool SetFields(int32_t, const Variant&) override {
    Refuse(refused_, (kind_ + ".Fields").c_str(), *this->target());
    return false;
  }
  bool Save() override {
    Refuse(refused_, (kind_ + ".Save").c_str(), *this->target());
    return false;
  }

 protected:
  Refused refused_;

 private:
  std::string kind_;
};

class ReadOnlyFolder : public ReadOnlyProps<FolderWrapper> {
 public:
  ReadOnlyFolder(std::shared_ptr<RDOFolder> inner, Refused refused)
      : ReadOnlyProps(std::move(inner), std::move(refused), "Folder") {}
  bool SetName(const std::string&) override {
    Refuse(refused_, "Folder.Name", *target());
    return false;
  }
  std::shared_ptr<RDOFolder> Parent() override { return Wrap(target()->Parent(), refused_); }
  std::shared_ptr<RDOStore> Store() override { return Wrap(target()->Store(), refused_); }
  std::shared_ptr<RDOItems> Items() override {
    auto items = target()->Items();
    if (!items) return nullptr;
    return std::make_shared<ReadOnlyItems>(std::move(items), refused_);
  }
  std::shared_ptr<RDOFolders> Folders() override {
    auto folders = target()->Folders();
    if (!folders) return nullptr;
    return std::make_shared<ReadOnlyFolders>(std::move(folders), target(), refused_);
  }
  void Delete() override { Refuse(refused_, "Folder.Delete", *target()); }
};

class ReadOnlyMail : public ReadOnlyProps<MailWrapper> {
 public:
  ReadOnlyMail(std::shared_ptr<RDOMail> inner, Refused refused)
      : ReadOnlyProps(std::move(inner), std::move(refused), "Mail") {}
  std::shared_ptr<RDOStore> Store() override { return Wrap(target()->Store(), refused_); }
  void Delete(int32_t) override { Refuse(refused_, "Mail.Delete", *target()); }
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

// A logon of either kind is the read-only one; the backend's own repoint check runs as it would
// without the guard, as it only reads.
class ReadOnlySession : public SessionWrapper {
 public:
  ReadOnlySession(std::shared_ptr<RDOSession> inner, Refused refused)
      : SessionWrapper(std::move(inner)), refused_(std::move(refused)) {}
  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override {
    SessionWrapper::LogonExchangeMailboxReadOnly(mailbox, server);
  }
  std::shared_ptr<RDOStores> Stores() override {
    auto stores = SessionWrapper::Stores();
    if (!stores) return nullptr;
    return std::make_shared<ReadOnlyStores>(std::move(stores), refused_);
  }
  std::shared_ptr<RDOFolder> GetDefaultFolder(int32_t folderType) override {
    return Wrap(SessionWrapper::GetDefaultFolder(folderType), refused_);
  }
  std::shared_ptr<RDOMail> GetMessageFromID(const std::string& entryID,
                                            const std::string& storeID) override {
    return Wrap(SessionWrapper::GetMessageFromID(entryID, storeID), refused_);
  }
  std::shared_ptr<RDOFolder> GetFolderFromID(const std::string& entryID,
                                             const std::string& storeID) override {
    return Wrap(SessionWrapper::GetFolderFromID(entryID, storeID), refused_);
  }

 private:
  Refused refused_;
};

}  // namespace

std::shared_ptr<RDOSession> NewReadOnlySession(std::shared_ptr<RDOSession> inner,
                                               std::shared_ptr<RefusedCalls> refused) {
  return std::make_shared<ReadOnlySession>(std::move(inner), std::move(refused));
}

}  // namespace oa::mailbox
