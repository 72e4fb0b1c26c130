// Opening a folder or message by entry ID the way the cleanup trusts it: the object's own store
// must confirm that the opened object is the one asked for, and an object that is not found or
// not confirmed is asked for again in the public folder store.
#pragma once

#include <memory>
#include <string>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/rdo.h"

namespace oa::mailbox {

enum class Confirmation { Confirmed, Denied, Failed };

// Whether the object's store says its own entry ID and the requested one are the same object.
// Failed when a call of the check fails; that error is left pending.
template <class T>
Confirmation ConfirmEntryID(T& object, const std::string& EntryID) {
  Err().Clear();
  const std::string own = object.EntryID();
  if (Err().Pending()) return Confirmation::Failed;
  std::shared_ptr<RDOStore> store = object.Store();
  if (!store && !Err().Pending())
    Err().Raise(ConstMAPI::ERR_OBJECT_NOT_SET, "Object variable or With block variable not set");
  if (Err().Pending()) return Confirmation::Failed;
  const bool same = store->CompareEntryIDs(own, EntryID);
  if (Err().Pending()) return Confirmation::Failed;
  return same ? Confirmation::Confirmed : Confirmation::Denied;
}

// The public folder store's entry ID, or empty text.
std::string PublicStoreEntryID(RDOSession& session);

template <class T>
struct ConfirmedOpen {
  // Empty when nothing opened or the store denied it.
  std::shared_ptr<T> object;
  Confirmation check = Confirmation::Denied;
  // The error of a check that could not be carried out.
  ErrObject failure;
};

// `open(storeID)` opens the object in a store (the mailbox's for empty text). The public store's
// entry ID is looked up once and kept in `publicStoreIDCache`. An object whose check cannot be
// carried out was opened by its own entry ID: it is kept, with check Failed.
template <class T, class Open>
ConfirmedOpen<T> OpenConfirmed(RDOSession& session, const std::string& EntryID,
                               const std::string& StoreID, std::string& publicStoreIDCache,
                               Open&& open) {
  ConfirmedOpen<T> result;
  std::shared_ptr<T> object = open(StoreID);
  if (!object || ConfirmEntryID(*object, EntryID) != Confirmation::Confirmed) {
    if (publicStoreIDCache.empty()) publicStoreIDCache = PublicStoreEntryID(session);
    // A failed second open keeps what the first one gave.
    if (std::shared_ptr<T> retried = open(publicStoreIDCache)) object = std::move(retried);
  }
  Err().Clear();
  if (!object) return result;
  result.check = ConfirmEntryID(*object, EntryID);
  if (result.check == Confirmation::Denied) return result;
  if (result.check == Confirmation::Failed) result.failure = Err();
  result.object = std::move(object);
  return result;
}

}  // namespace oa::mailbox
