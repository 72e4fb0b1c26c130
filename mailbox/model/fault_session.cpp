#include "mailbox/model/fault_session.h"

#include <string>
#include <utility>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/wrappers.h"

namespace oa::mailbox {
namespace {

using Ledger = std::shared_ptr<FaultLedger>;
using Ids = std::vector<std::string>;
using Effect = FaultOutcome::Effect;

// The entry ID of an object, read for the ledger's sake: its failure is nobody's business.
template <class T>
std::string QuietEntryID(T& object) {
  ErrScope scope;
  return object.EntryID();
}

// The entry ID a wrapper's calls aim at, asked for only when a fault might apply.
template <class T>
struct IdsOf {
  T* object;
  Ids operator()() const { return {object->TargetID()}; }
};

// A call once the ledger has spoken. `silent` is what a call reports that pretends success;
// a failing call (none, applied) returns its empty result.
template <class R, class Call>
R Apply(const FaultOutcome& f, R silent, Call&& call) {
  switch (f.effect) {
    case Effect::Pass:
      return call();
    case Effect::None:
      Err().Raise(f.error, f.description);
      return R{};
    case Effect::Silent:
      return silent;
    case Effect::Applied:
      Err().Clear();
      call();
      // The call's own failure, if any, is the one to report.
      if (!Err().Pending()) Err().Raise(f.error, f.description);
      return R{};
  }
  return R{};
}

// A call whose targets are known before it runs.
template <class R, class Targets, class Call>
R Guard(FaultLedger& ledger, FaultOp op, Targets&& targets, R silent, Call&& call) {
  if (!ledger.Declares(op)) return call();
  return Apply(ledger.Check(op, targets()), std::move(silent), std::forward<Call>(call));
}

// A call that changes nothing and aims at what it finds: it runs first, and the ledger then
// judges it by its result's entry ID, as if it had been asked before.
template <class R, class Call, class TargetsOf>
R GuardByResult(FaultLedger& ledger, FaultOp op, Call&& call, TargetsOf&& targetsOf) {
  if (!ledger.Declares(op)) return call();
  const ErrObject before = Err();
  Err().Clear();
  R result = call();
  const bool failed = Err().Pending();
  const FaultOutcome f = ledger.Check(op, targetsOf(result));
  switch (f.effect) {
    case Effect::Pass:
      if (!failed) Err() = before;
      return result;
    case Effect::None:
      Err().Raise(f.error, f.description);
      return R{};
    case Effect::Silent:
      Err() = before;
      return R{};
    case Effect::Applied:
      if (!failed) Err().Raise(f.error, f.description);
      return R{};
  }
  return result;
}

std::shared_ptr<RDOStore> WrapStore(std::shared_ptr<RDOStore> inner, const Ledger& ledger);
std::shared_ptr<RDOFolder> WrapFolder(std::shared_ptr<RDOFolder> inner, const Ledger& ledger);
std::shared_ptr<RDOMail> WrapMail(std::shared_ptr<RDOMail> inner, const Ledger& ledger);

class FaultStore : public StoreWrapper {
 public:
  FaultStore(std::shared_ptr<RDOStore> inner, Ledger ledger)
      : StoreWrapper(std::move(inner)), ledger_(std::move(ledger)) {}
  std::shared_ptr<RDOFolder> RootFolder() override {
    return Guard<std::shared_ptr<RDOFolder>>(
        *ledger_, FaultOp::StoreRootFolder, [&] { return Self(); }, nullptr,
        [&] { return WrapFolder(target()->RootFolder(), ledger_); });
  }
  std::shared_ptr<RDOFolder> IPMRootFolder() override {
    return Guard<std::shared_ptr<RDOFolder>>(
        *ledger_, FaultOp::StoreIPMRootFolder, [&] { return Self(); }, nullptr,
        [&] { return WrapFolder(target()->IPMRootFolder(), ledger_); });
  }
  bool CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) override {
    auto call = [&] { return target()->CompareEntryIDs(entryID1, entryID2); };
    if (!ledger_->Declares(FaultOp::StoreCompareEntryIDs)) return call();
    const FaultOutcome f = ledger_->Check(FaultOp::StoreCompareEntryIDs, {entryID1, entryID2});
    if (f.result) return *f.result;
    return Apply(f, false, call);
  }

 private:
  Ids Self() { return {QuietEntryID(*target())}; }
  Ledger ledger_;
};

class FaultStores : public StoresWrapper {
 public:
  FaultStores(std::shared_ptr<RDOStores> inner, Ledger ledger)
      : StoresWrapper(std::move(inner)), ledger_(std::move(ledger)) {}
  std::shared_ptr<RDOStore> DefaultStore() override { return Found(FaultOp::StoresDefaultStore); }
  std::shared_ptr<RDOStore> FindExchangePublicFoldersStore() override {
    return Found(FaultOp::StoresFindExchangePublicFoldersStore);
  }

 private:
  std::shared_ptr<RDOStore> Found(FaultOp op) {
    return GuardByResult<std::shared_ptr<RDOStore>>(
        *ledger_, op,
        [&] {
          return WrapStore(op == FaultOp::StoresDefaultStore
                               ? target()->DefaultStore()
                               : target()->FindExchangePublicFoldersStore(),
                           ledger_);
        },
        [](const std::shared_ptr<RDOStore>& s) { return s ? Ids{QuietEntryID(*s)} : Ids{}; });
  }
  Ledger ledger_;
};

class FaultFolder : public FolderWrapper, public std::enable_shared_from_this<FaultFolder> {
 public:
  FaultFolder(std::shared_ptr<RDOFolder> inner, Ledger ledger)
      : FolderWrapper(std::move(inner)), ledger_(std::move(ledger)) {}
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override {
    return Guard<int32_t>(*ledger_, FaultOp::FolderGetIDsFromNames, Self(), 0,
                          [&] { return target()->GetIDsFromNames(guid, name); });
  }
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override {
    return Guard<int32_t>(*ledger_, FaultOp::FolderGetIDsFromNames, Self(), 0,
                          [&] { return target()->LookupIDsFromNames(guid, name); });
  }
  bool SetFields(int32_t propTag, const Variant& value) override {
    // The display name is the folder's name, with that operation's faults.
    if (IsDisplayName(propTag) && value.type() == Variant::Type::String) {
      return SetName(value.AsString());
    }
    return Guard<bool>(*ledger_, FaultOp::FolderFields, Self(), true,
                       [&] { return target()->SetFields(propTag, value); });
  }
  bool Save() override {
    return Guard<bool>(*ledger_, FaultOp::FolderSave, Self(), true,
                       [&] { return target()->Save(); });
  }
  bool SetName(const std::string& name) override {
    return Guard<bool>(*ledger_, FaultOp::FolderName, Self(), true,
                       [&] { return target()->SetName(name); });
  }
  std::shared_ptr<RDOFolder> Parent() override {
    return Guard<std::shared_ptr<RDOFolder>>(*ledger_, FaultOp::FolderParent, Self(), nullptr, [&] {
      return WrapFolder(target()->Parent(), ledger_);
    });
  }
  std::shared_ptr<RDOStore> Store() override { return WrapStore(target()->Store(), ledger_); }
  std::shared_ptr<RDOItems> Items() override;
  std::shared_ptr<RDOFolders> Folders() override;
  void Delete() override {
    Guard<int>(*ledger_, FaultOp::FolderDelete, Self(), 0, [&] {
      target()->Delete();
      return 0;
    });
  }

  // The entry ID the folder's faults (and its items' and subfolders') aim at; read once, as
  // entry IDs never change.
  const std::string& TargetID() {
    if (id_.empty()) id_ = QuietEntryID(*target());
    return id_;
  }

 private:
  static bool IsDisplayName(int32_t tag) {
    const int32_t type = tag & 0xFFFF;
    return (tag & ~0xFFFF) == (ConstMAPI::PR_DISPLAY_NAME & ~0xFFFF) &&
           (type == ConstMAPI::PT_STRING8 || type == ConstMAPI::PT_UNICODE);
  }
  IdsOf<FaultFolder> Self() { return {this}; }
  Ledger ledger_;
  std::string id_;
};

// Refused deletes are no call a fault aims at: TakeRefusedDeletes goes through.
class FaultItems : public ItemsWrapper {
 public:
  FaultItems(std::shared_ptr<RDOItems> inner, std::shared_ptr<FaultFolder> folder, Ledger ledger)
      : ItemsWrapper(std::move(inner)), folder_(std::move(folder)), ledger_(std::move(ledger)) {}
  int32_t Count() override {
    return Guard<int32_t>(*ledger_, FaultOp::ItemsCount, Folder(), 0,
                          [&] { return target()->Count(); });
  }
  std::shared_ptr<RDOMail> Item(int32_t index) override {
    return Guard<std::shared_ptr<RDOMail>>(*ledger_, FaultOp::ItemsItem, Folder(), nullptr, [&] {
      return WrapMail(target()->Item(index), ledger_);
    });
  }
  std::shared_ptr<RDOMail> GetFirst() override {
    return Guard<std::shared_ptr<RDOMail>>(*ledger_, FaultOp::ItemsGetFirst, Folder(), nullptr,
                                           [&] { return WrapMail(target()->GetFirst(), ledger_); });
  }
  std::shared_ptr<oa::mailbox::MAPITable> MAPITable() override {
    return Guard<std::shared_ptr<oa::mailbox::MAPITable>>(*ledger_, FaultOp::ItemsMAPITable,
                                                          Folder(), nullptr,
                                                          [&] { return target()->MAPITable(); });
  }

 private:
  IdsOf<FaultFolder> Folder() { return {folder_.get()}; }
  std::shared_ptr<FaultFolder> folder_;
  Ledger ledger_;
};

class FaultFolders : public FoldersWrapper {
 public:
  FaultFolders(std::shared_ptr<RDOFolders> inner, std::shared_ptr<FaultFolder> parent,
               Ledger ledger)
      : FoldersWrapper(std::move(inner)), parent_(std::move(parent)), ledger_(std::move(ledger)) {}
  int32_t Count() override {
    return Guard<int32_t>(*ledger_, FaultOp::FoldersCount, Parent(), 0,
                          [&] { return target()->Count(); });
  }
  std::shared_ptr<RDOFolder> Item(int32_t index) override {
    return Guard<std::shared_ptr<RDOFolder>>(
        *ledger_, FaultOp::FoldersItem, Parent(), nullptr,
        [&] { return WrapFolder(target()->Item(index), ledger_); });
  }
  std::shared_ptr<RDOFolder> Item(const std::string& name) override {
    return Guard<std::shared_ptr<RDOFolder>>(
        *ledger_, FaultOp::FoldersItem, Parent(), nullptr,
        [&] { return WrapFolder(target()->Item(name), ledger_); });
  }
  std::shared_ptr<RDOFolder> Add(const std::string& name) override {
    return Guard<std::shared_ptr<RDOFolder>>(*ledger_, FaultOp::FoldersAdd, Parent(), nullptr, [&] {
      return WrapFolder(target()->Add(name), ledger_);
    });
  }

 private:
  IdsOf<FaultFolder> Parent() { return {parent_.get()}; }
  std::shared_ptr<FaultFolder> parent_;
  Ledger ledger_;
};

std::shared_ptr<RDOItems> FaultFolder::Items() {
  return Guard<std::shared_ptr<RDOItems>>(
      *ledger_, FaultOp::FolderItems, Self(), nullptr, [&]() -> std::shared_ptr<RDOItems> {
        auto items = target()->Items();
        if (!items) return nullptr;
        return std::make_shared<FaultItems>(std::move(items), shared_from_this(), ledger_);
      });
}

std::shared_ptr<RDOFolders> FaultFolder::Folders() {
  return Guard<std::shared_ptr<RDOFolders>>(
      *ledger_, FaultOp::FolderFolders, Self(), nullptr, [&]() -> std::shared_ptr<RDOFolders> {
        auto folders = target()->Folders();
        if (!folders) return nullptr;
        return std::make_shared<FaultFolders>(std::move(folders), shared_from_this(), ledger_);
      });
}

class FaultMail : public MailWrapper {
 public:
  FaultMail(std::shared_ptr<RDOMail> inner, Ledger ledger)
      : MailWrapper(std::move(inner)), ledger_(std::move(ledger)) {}
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override {
    return Guard<int32_t>(*ledger_, FaultOp::MailGetIDsFromNames, Self(), 0,
                          [&] { return target()->GetIDsFromNames(guid, name); });
  }
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override {
    return Guard<int32_t>(*ledger_, FaultOp::MailGetIDsFromNames, Self(), 0,
                          [&] { return target()->LookupIDsFromNames(guid, name); });
  }
  bool SetFields(int32_t propTag, const Variant& value) override {
    return Guard<bool>(*ledger_, FaultOp::MailFields, Self(), true,
                       [&] { return target()->SetFields(propTag, value); });
  }
  bool Save() override {
    return Guard<bool>(*ledger_, FaultOp::MailSave, Self(), true, [&] { return target()->Save(); });
  }
  std::string MessageClass() override {
    return Guard<std::string>(*ledger_, FaultOp::MailMessageClass, Self(), "",
                              [&] { return target()->MessageClass(); });
  }
  std::string Subject() override {
    return Guard<std::string>(*ledger_, FaultOp::MailSubject, Self(), "",
                              [&] { return target()->Subject(); });
  }
  Variant CreationTime() override {
    return Guard<Variant>(*ledger_, FaultOp::MailCreationTime, Self(), Variant(),
                          [&] { return target()->CreationTime(); });
  }
  std::shared_ptr<RDOStore> Store() override { return WrapStore(target()->Store(), ledger_); }
  const std::string& TargetID() {
    if (id_.empty()) id_ = QuietEntryID(*target());
    return id_;
  }
  void Delete(int32_t flags) override {
    Guard<int>(*ledger_, FaultOp::MailDelete, Self(), 0, [&] {
      target()->Delete(flags);
      return 0;
    });
  }

 private:
  IdsOf<FaultMail> Self() { return {this}; }
  Ledger ledger_;
  std::string id_;
};

std::shared_ptr<RDOStore> WrapStore(std::shared_ptr<RDOStore> inner, const Ledger& ledger) {
  if (!inner) return nullptr;
  return std::make_shared<FaultStore>(std::move(inner), ledger);
}

std::shared_ptr<RDOFolder> WrapFolder(std::shared_ptr<RDOFolder> inner, const Ledger& ledger) {
  if (!inner) return nullptr;
  return std::make_shared<FaultFolder>(std::move(inner), ledger);
}

std::shared_ptr<RDOMail> WrapMail(std::shared_ptr<RDOMail> inner, const Ledger& ledger) {
  if (!inner) return nullptr;
  return std::make_shared<FaultMail>(std::move(inner), ledger);
}

class FaultSession : public SessionWrapper {
 public:
  FaultSession(std::shared_ptr<RDOSession> inner, FaultLedgerSource ledgerFor)
      : SessionWrapper(std::move(inner)), ledgerFor_(std::move(ledgerFor)) {}

  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override {
    Logon(mailbox, server, false);
  }
  void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                    const std::string& server) override {
    Logon(mailbox, server, true);
  }

  void Logon(const std::string& mailbox, const std::string& server, bool readOnly) {
    ledger_.reset();
    mailboxStoreID_.clear();
    if (readOnly)
      target()->LogonExchangeMailboxReadOnly(mailbox, server);
    else
      target()->LogonExchangeMailbox(mailbox, server);
    // A logon that fails by itself is no call a fault counts.
    if (!target()->LoggedOn() || !ledgerFor_) return;
    ledger_ = ledgerFor_();
    if (!ledger_ || !ledger_->Declares(FaultOp::SessionLogonExchangeMailbox)) return;
    const FaultOutcome f = ledger_->Check(FaultOp::SessionLogonExchangeMailbox, MailboxStore());
    switch (f.effect) {
      case Effect::Pass:
        return;
      case Effect::None:
      case Effect::Silent:
        // The session is as it would be had the logon not been made.
        target()->Logoff();
        ledger_.reset();
        if (f.effect == Effect::None) Err().Raise(f.error, f.description);
        return;
      case Effect::Applied:
        Err().Raise(f.error, f.description);
        return;
    }
  }
  void Logoff() override {
    target()->Logoff();
    ledger_.reset();
  }
  std::shared_ptr<RDOStores> Stores() override {
    if (!ledger_) return target()->Stores();
    return Guard<std::shared_ptr<RDOStores>>(
        *ledger_, FaultOp::SessionStores, [&] { return MailboxStore(); }, nullptr,
        [&]() -> std::shared_ptr<RDOStores> {
          auto stores = target()->Stores();
          if (!stores) return nullptr;
          return std::make_shared<FaultStores>(std::move(stores), ledger_);
        });
  }
  std::shared_ptr<RDOFolder> GetDefaultFolder(int32_t folderType) override {
    if (!ledger_) return target()->GetDefaultFolder(folderType);
    return GuardByResult<std::shared_ptr<RDOFolder>>(
        *ledger_, FaultOp::SessionGetDefaultFolder,
        [&] { return WrapFolder(target()->GetDefaultFolder(folderType), ledger_); },
        [](const std::shared_ptr<RDOFolder>& f) { return f ? Ids{QuietEntryID(*f)} : Ids{}; });
  }
  std::shared_ptr<RDOMail> GetMessageFromID(const std::string& entryID,
                                            const std::string& storeID) override {
    if (!ledger_) return target()->GetMessageFromID(entryID, storeID);
    return Guard<std::shared_ptr<RDOMail>>(
        *ledger_, FaultOp::SessionGetMessageFromID, [&] { return Ids{entryID}; }, nullptr,
        [&] { return WrapMail(target()->GetMessageFromID(entryID, storeID), ledger_); });
  }
  std::shared_ptr<RDOFolder> GetFolderFromID(const std::string& entryID,
                                             const std::string& storeID) override {
    if (!ledger_) return target()->GetFolderFromID(entryID, storeID);
    return Guard<std::shared_ptr<RDOFolder>>(
        *ledger_, FaultOp::SessionGetFolderFromID, [&] { return Ids{entryID}; }, nullptr,
        [&] { return WrapFolder(target()->GetFolderFromID(entryID, storeID), ledger_); });
  }
  // Made through this session's own calls, so that the faults declared for them meet the check
  // as they would meet the repoint.
  bool CheckRepointReads(const std::string& messageEntryID, RDOFolder& folder) override {
    return CheckRepointReadsThrough(*this, messageEntryID, folder);
  }

 private:
  Ids MailboxStore() {
    if (mailboxStoreID_.empty()) {
      ErrScope scope;
      if (auto stores = target()->Stores()) {
        if (auto store = stores->DefaultStore()) mailboxStoreID_ = store->EntryID();
      }
    }
    return {mailboxStoreID_};
  }

  FaultLedgerSource ledgerFor_;
  Ledger ledger_;
  std::string mailboxStoreID_;
};

}  // namespace

std::shared_ptr<RDOSession> NewFaultSession(std::shared_ptr<RDOSession> inner,
                                            FaultLedgerSource ledgerFor) {
  return std::make_shared<FaultSession>(std::move(inner), std::move(ledgerFor));
}

}  // namespace oa::mailbox
