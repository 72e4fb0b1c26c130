// The mailbox object model: session, stores, folders, items, messages and contents tables.
//
// Contract for every backend (the embedded store, Exchange Web Services):
//  - No call throws. A failed call returns its empty result (nullptr, empty text, false, 0,
//    an empty row) and raises its error on Err() (mapi_error.h); a successful call leaves the
//    pending error as it was.
//  - Entry IDs travel as entry-ID text: upper-case hexadecimal, two digits a byte. Calls that
//    take an entry ID accept hexadecimal in either case.
//  - Objects are handed out as shared_ptr; a caller may keep one as long as it likes, also after
//    the session has logged off (its calls then fail with MAPI_E_END_OF_SESSION).
//  - Every call is pure, with no behaviour shared by default: an object that wraps another
//    derives from a forwarding base (wrappers.h), so that a call it does not change still
//    reaches the object it wraps. Default arguments are the interface's: call through it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/variant.h"

namespace oa::mailbox {

class RDOStore;
class RDOStores;
class RDOFolder;
class RDOFolders;
class RDOItems;
class RDOMail;
class MAPITable;

// The property interface common to messages and folders.
class MAPIProp {
 public:
  virtual ~MAPIProp() = default;
  virtual std::string EntryID() = 0;
  // The property ID (type bits 0) of a named property; 0 when it cannot be had. An ID that the
  // store has not given out yet is given out now (a named-property map is never shrunk).
  virtual int32_t GetIDsFromNames(const std::string& guid, const std::string& name) = 0;
  // As GetIDsFromNames, but never gives out an ID (MAPI's call without MAPI_CREATE): 0, with no
  // error, for a name the store has no ID for yet.
  virtual int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) = 0;
  // A property by tag; Empty when missing or unreadable.
  virtual Variant Fields(int32_t propTag) = 0;
  // Sets a property; written to the store by Save(). False on failure.
  virtual bool SetFields(int32_t propTag, const Variant& value) = 0;
  // Writes pending changes. False on failure.
  virtual bool Save() = 0;
};

class RDORestriction {
 public:
  virtual ~RDORestriction() = default;
  virtual int32_t Kind() = 0;
  // On a RES_AND (or RES_OR) restriction: adds a member restriction of the kind given.
  virtual std::shared_ptr<RDORestriction> Add(int32_t kind) = 0;
  // On a RES_CONTENT restriction.
  virtual void SetPropTag(int32_t ulPropTag) = 0;
  virtual void SetFuzzyLevel(int32_t ulFuzzyLevel) = 0;
  virtual void SetProp(const Variant& lpProp) = 0;
};

class RDOTableFilter {
 public:
  virtual ~RDOTableFilter() = default;
  // Starts a new restriction of the kind given and returns it.
  virtual std::shared_ptr<RDORestriction> SetKind(int32_t kind) = 0;
  // Positions the table on the first (next) row that matches; false when there is none.
  virtual bool FindFirst(bool forward) = 0;
  virtual bool FindNext(bool forward) = 0;
  // Drops the restriction.
  virtual void Reset() = 0;
};

class MAPITable {
 public:
  virtual ~MAPITable() = default;
  virtual bool SetColumns(const std::vector<int32_t>& propTags) = 0;
  // The row at the table's position, one value per column (binary values as Variant arrays of
  // bytes); empty when there is no current row.
  virtual VariantArray GetRow() = 0;
  virtual std::shared_ptr<RDOTableFilter> Filter() = 0;
};

class RDOStore {
 public:
  virtual ~RDOStore() = default;
  virtual std::string EntryID() = 0;
  virtual std::string Name() = 0;
  virtual std::shared_ptr<RDOFolder> RootFolder() = 0;
  virtual std::shared_ptr<RDOFolder> IPMRootFolder() = 0;
  // True when the two entry IDs denote the same object of this store.
  virtual bool CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) = 0;
};

class RDOStores {
 public:
  virtual ~RDOStores() = default;
  virtual std::shared_ptr<RDOStore> DefaultStore() = 0;
  virtual std::shared_ptr<RDOStore> FindExchangePublicFoldersStore() = 0;
};

class RDOFolder : public MAPIProp {
 public:
  virtual std::string Name() = 0;
  // Renames the folder; written by Save().
  virtual bool SetName(const std::string& name) = 0;
  virtual std::shared_ptr<RDOFolder> Parent() = 0;
  virtual std::shared_ptr<RDOStore> Store() = 0;
  virtual std::shared_ptr<RDOItems> Items() = 0;
  virtual std::shared_ptr<RDOFolders> Folders() = 0;
  // Deletes the folder with its contents. Success is read from the pending error.
  virtual void Delete() = 0;
};

class RDOFolders {
 public:
  virtual ~RDOFolders() = default;
  virtual int32_t Count() = 0;
  // The child at a position counted from 1, in collection order.
  virtual std::shared_ptr<RDOFolder> Item(int32_t index) = 0;
  // The child with that display name, compared without regard to case.
  virtual std::shared_ptr<RDOFolder> Item(const std::string& name) = 0;
  // Adds a child; fails with MAPI_E_COLLISION when a sibling has that name in any letter case.
  virtual std::shared_ptr<RDOFolder> Add(const std::string& name) = 0;
};

class RDOItems {
 public:
  virtual ~RDOItems() = default;
  virtual int32_t Count() = 0;
  // The item at a position counted from 1.
  virtual std::shared_ptr<RDOMail> Item(int32_t index) = 0;
  virtual std::shared_ptr<RDOMail> GetFirst() = 0;
  virtual std::shared_ptr<oa::mailbox::MAPITable> MAPITable() = 0;
  // A backend may hold deletes back and send them together; Count() already leaves them out.
  // Returns how many of them the server refused since the last call: those items are back in
  // the collection, ahead of every item not deleted yet. With settle, whatever is still held
  // back is sent first. Always 0 where a delete takes effect at once.
  virtual int32_t TakeRefusedDeletes(bool settle) = 0;
};

class RDOMail : public MAPIProp {
 public:
  virtual std::string MessageClass() = 0;
  virtual std::string Subject() = 0;
  // Empty on failure; otherwise a Date variant.
  virtual Variant CreationTime() = 0;
  virtual std::shared_ptr<RDOStore> Store() = 0;
  // Flags as ConstMAPI::df*; hard delete is 2.
  virtual void Delete(int32_t flags = 0) = 0;
};

class RDOSession {
 public:
  virtual ~RDOSession() = default;
  // Logs on to a mailbox (alias or address) on a server; success is read from LoggedOn().
  virtual void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) = 0;
  // The same logon for a session that is to change nothing (a dry run): a backend that can
  // opens the mailbox for reading only, so that one the user may not write can still be read;
  // one that cannot logs on as LogonExchangeMailbox does.
  virtual void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                            const std::string& server) = 0;
  virtual bool LoggedOn() = 0;
  virtual void Logoff() = 0;
  virtual std::shared_ptr<RDOStores> Stores() = 0;
  virtual std::shared_ptr<RDOFolder> GetDefaultFolder(int32_t folderType) = 0;
  // With an empty store ID only the mailbox store is searched.
  virtual std::shared_ptr<RDOMail> GetMessageFromID(const std::string& entryID,
                                                    const std::string& storeID = "") = 0;
  virtual std::shared_ptr<RDOFolder> GetFolderFromID(const std::string& entryID,
                                                     const std::string& storeID = "") = 0;
  // Sends what the session holds back (deletes waiting for their group) now: called when the
  // program pauses for the user, so that the mailbox shows what the window does. Nothing where
  // a change takes effect at once.
  virtual void SendHeldBack() = 0;
  // Tries, on this mailbox and with this session's credential, the reads that pointing a
  // message's property at another folder needs: the message opened again by its entry ID, and a
  // folder's entry ID. Called before a change that only such a pointing could make good. False,
  // with the reason raised (naming a permission the service says is missing), when one fails;
  // true leaves the pending error as it was. Cheap: it reads what the run has read already.
  virtual bool CheckRepointReads(const std::string& messageEntryID, RDOFolder& folder) = 0;
};

// CheckRepointReads made through the session's own calls: the message opened by its entry ID,
// and the entry IDs of the message and the folder read. A backend whose service may refuse those
// reads for want of a permission makes its own check, which names the permission.
bool CheckRepointReadsThrough(RDOSession& session, const std::string& messageEntryID,
                              RDOFolder& folder);

}  // namespace oa::mailbox
