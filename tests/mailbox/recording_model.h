// An object model that does nothing but note every call made on it, with its arguments, and
// answer with values a test can tell apart: for checking that a wrapper passes each call on.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mailbox/model/rdo.h"

namespace oa::testing {

using CallLog = std::shared_ptr<std::vector<std::string>>;

class RecordingItems : public mailbox::RDOItems {
 public:
  explicit RecordingItems(CallLog calls) : calls_(std::move(calls)) {}
  int32_t Count() override { return Note("Items.Count", 11); }
  std::shared_ptr<mailbox::RDOMail> Item(int32_t index) override {
    return Note("Items.Item(" + std::to_string(index) + ")", mail);
  }
  std::shared_ptr<mailbox::RDOMail> GetFirst() override { return Note("Items.GetFirst", mail); }
  std::shared_ptr<mailbox::MAPITable> MAPITable() override {
    return Note("Items.MAPITable", std::shared_ptr<mailbox::MAPITable>());
  }
  int32_t TakeRefusedDeletes(bool settle) override {
    return Note(std::string("Items.TakeRefusedDeletes(") + (settle ? "true" : "false") + ")", 3);
  }
  std::shared_ptr<mailbox::RDOMail> mail;

 private:
  template <class R>
  R Note(const std::string& call, R result) {
    calls_->push_back(call);
    return result;
  }
  CallLog calls_;
};

// Folders and messages: the property calls they share.
template <class Interface>
class RecordingProps : public Interface {
 public:
  RecordingProps(CallLog calls, std::string kind)
      : calls_(std::move(calls)), kind_(std::move(kind)) {}
  std::string EntryID() override { return Note("EntryID", kind_ + "-id"); }
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override {
    return Note("GetIDsFromNames(" + guid + "," + name + ")", 0x8001);
  }
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override {
    return Note("LookupIDsFromNames(" + guid + "," + name + ")", 0x8002);
  }
  oa::Variant Fields(int32_t propTag) override {
    return Note("Fields(" + std::to_string(propTag) + ")", oa::Variant::String("value"));
  }
  bool SetFields(int32_t propTag, const oa::Variant& value) override {
    return Note("SetFields(" + std::to_string(propTag) + "," + value.ToText() + ")", true);
  }
  bool Save() override { return Note("Save", true); }

 protected:
  template <class R>
  R Note(const std::string& call, R result) {
    calls_->push_back(kind_ + "." + call);
    return result;
  }

 private:
  CallLog calls_;
  std::string kind_;
};

class RecordingMail : public RecordingProps<mailbox::RDOMail> {
 public:
  explicit RecordingMail(CallLog calls) : RecordingProps(std::move(calls), "Mail") {}
  std::string MessageClass() override { return Note("MessageClass", std::string("IPM.Note")); }
  std::string Subject() override { return Note("Subject", std::string("subject")); }
  oa::Variant CreationTime() override { return Note("CreationTime", oa::Variant()); }
  std::shared_ptr<mailbox::RDOStore> Store() override { return Note("Store", store); }
  void Delete(int32_t flags) override { Note("Delete(" + std::to_string(flags) + ")", 0); }
  std::shared_ptr<mailbox::RDOStore> store;
};

class RecordingFolder : public RecordingProps<mailbox::RDOFolder> {
 public:
  explicit RecordingFolder(CallLog calls) : RecordingProps(std::move(calls), "Folder") {}
  std::string Name() override { return Note("Name", std::string("name")); }
  bool SetName(const std::string& name) override { return Note("SetName(" + name + ")", true); }
  std::shared_ptr<mailbox::RDOFolder> Parent() override { return Note("Parent", parent); }
  std::shared_ptr<mailbox::RDOStore> Store() override { return Note("Store", store); }
  std::shared_ptr<mailbox::RDOItems> Items() override { return Note("Items", items); }
  std::shared_ptr<mailbox::RDOFolders> Folders() override { return Note("Folders", folders); }
  void Delete() override { Note("Delete", 0); }
  std::shared_ptr<mailbox::RDOFolder> parent;
  std::shared_ptr<mailbox::RDOStore> store;
  std::shared_ptr<mailbox::RDOItems> items;
  std::shared_ptr<mailbox::RDOFolders> folders;
};

class RecordingFolders : public mailbox::RDOFolders {
 public:
  explicit RecordingFolders(CallLog calls) : calls_(std::move(calls)) {}
  int32_t Count() override { return Note("Folders.Count", 2); }
  std::shared_ptr<mailbox::RDOFolder> Item(int32_t index) override {
    return Note("Folders.Item(" + std::to_string(index) + ")", folder);
  }
  std::shared_ptr<mailbox::RDOFolder> Item(const std::string& name) override {
    return Note("Folders.Item(" + name + ")", folder);
  }
  std::shared_ptr<mailbox::RDOFolder> Add(const std::string& name) override {
    return Note("Folders.Add(" + name + ")", folder);
  }
  std::shared_ptr<mailbox::RDOFolder> folder;

 private:
  template <class R>
  R Note(const std::string& call, R result) {
    calls_->push_back(call);
    return result;
  }
  CallLog calls_;
};

class RecordingStore : public mailbox::RDOStore {
 public:
  explicit RecordingStore(CallLog calls) : calls_(std::move(calls)) {}
  std::string EntryID() override { return Note("Store.EntryID", std::string("store-id")); }
  std::string Name() override { return Note("Store.Name", std::string("Mailbox")); }
  std::shared_ptr<mailbox::RDOFolder> RootFolder() override {
    return Note("Store.RootFolder", folder);
  }
  std::shared_ptr<mailbox::RDOFolder> IPMRootFolder() override {
    return Note("Store.IPMRootFolder", folder);
  }
  bool CompareEntryIDs(const std::string& a, const std::string& b) override {
    return Note("Store.CompareEntryIDs(" + a + "," + b + ")", true);
  }
  std::shared_ptr<mailbox::RDOFolder> folder;

 private:
  template <class R>
  R Note(const std::string& call, R result) {
    calls_->push_back(call);
    return result;
  }
  CallLog calls_;
};

class RecordingStores : public mailbox::RDOStores {
 public:
  explicit RecordingStores(CallLog calls) : calls_(std::move(calls)) {}
  std::shared_ptr<mailbox::RDOStore> DefaultStore() override {
    calls_->push_back("Stores.DefaultStore");
    return store;
  }
  std::shared_ptr<mailbox::RDOStore> FindExchangePublicFoldersStore() override {
    calls_->push_back("Stores.FindExchangePublicFoldersStore");
    return store;
  }
  std::shared_ptr<mailbox::RDOStore> store;

 private:
  CallLog calls_;
};

class RecordingSession : public mailbox::RDOSession {
 public:
  explicit RecordingSession(CallLog calls) : calls_(std::move(calls)) {}
  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override {
    loggedOn_ = Note("Session.LogonExchangeMailbox(" + mailbox + "," + server + ")", true);
  }
  void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                    const std::string& server) override {
    loggedOn_ = Note("Session.LogonExchangeMailboxReadOnly(" + mailbox + "," + server + ")", true);
  }
  bool LoggedOn() override { return Note("Session.LoggedOn", loggedOn_); }
  void Logoff() override { loggedOn_ = Note("Session.Logoff", false); }
  std::shared_ptr<mailbox::RDOStores> Stores() override { return Note("Session.Stores", stores); }
  std::shared_ptr<mailbox::RDOFolder> GetDefaultFolder(int32_t folderType) override {
    return Note("Session.GetDefaultFolder(" + std::to_string(folderType) + ")", folder);
  }
  std::shared_ptr<mailbox::RDOMail> GetMessageFromID(const std::string& entryID,
                                                     const std::string& storeID) override {
    return Note("Session.GetMessageFromID(" + entryID + "," + storeID + ")", mail);
  }
  std::shared_ptr<mailbox::RDOFolder> GetFolderFromID(const std::string& entryID,
                                                      const std::string& storeID) override {
    return Note("Session.GetFolderFromID(" + entryID + "," + storeID + ")", folder);
  }
  void SendHeldBack() override { Note("Session.SendHeldBack", 0); }
  bool CheckRepointReads(const std::string& messageEntryID, mailbox::RDOFolder& folder) override {
    return Note("Session.CheckRepointReads(" + messageEntryID + "," + folder.EntryID() + ")", true);
  }
  std::shared_ptr<mailbox::RDOStores> stores;
  std::shared_ptr<mailbox::RDOFolder> folder;
  std::shared_ptr<mailbox::RDOMail> mail;

 private:
  template <class R>
  R Note(const std::string& call, R result) {
    calls_->push_back(call);
    return result;
  }
  CallLog calls_;
  bool loggedOn_ = false;
};

// A whole recording mailbox: the session hands out the one store, folder, items and message,
// and each of those hands out the others.
struct RecordingModel {
  RecordingModel()
      : calls(std::make_shared<std::vector<std::string>>()),
        session(std::make_shared<RecordingSession>(calls)),
        stores(std::make_shared<RecordingStores>(calls)),
        store(std::make_shared<RecordingStore>(calls)),
        folder(std::make_shared<RecordingFolder>(calls)),
        folders(std::make_shared<RecordingFolders>(calls)),
        items(std::make_shared<RecordingItems>(calls)),
        mail(std::make_shared<RecordingMail>(calls)) {
    session->stores = stores;
    session->folder = folder;
    session->mail = mail;
    stores->store = store;
    store->folder = folder;
    folder->parent = folder;
    folder->store = store;
    folder->items = items;
    folder->folders = folders;
    folders->folder = folder;
    items->mail = mail;
    mail->store = store;
  }
  // The objects hand each other out: the links are cut so that they can go.
  ~RecordingModel() {
    session->stores.reset();
    session->folder.reset();
    session->mail.reset();
    stores->store.reset();
    store->folder.reset();
    folder->parent.reset();
    folder->store.reset();
    folder->items.reset();
    folder->folders.reset();
    folders->folder.reset();
    items->mail.reset();
    mail->store.reset();
  }
  RecordingModel(const RecordingModel&) = delete;
  RecordingModel& operator=(const RecordingModel&) = delete;
  // The calls noted since the last Take.
  std::vector<std::string> Take() { return std::exchange(*calls, {}); }

  CallLog calls;
  std::shared_ptr<RecordingSession> session;
  std::shared_ptr<RecordingStores> stores;
  std::shared_ptr<RecordingStore> store;
  std::shared_ptr<RecordingFolder> folder;
  std::shared_ptr<RecordingFolders> folders;
  std::shared_ptr<RecordingItems> items;
  std::shared_ptr<RecordingMail> mail;
};

}  // namespace oa::testing
