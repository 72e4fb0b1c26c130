// Folders and folder collections.
#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/objects.h"
#include "mailbox/store/schema.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

namespace {

constexpr int32_t kDisplayNameId = 0x3001;
constexpr int32_t kEntryIdId = 0x0FFF;
constexpr int32_t kContentCountId = 0x3602;

bool IsString(int32_t tag) {
  return PropType(tag) == PT_STRING8 || PropType(tag) == PT_UNICODE;
}

void CheckName(const std::string& name) {
  if (name.empty()) Fail(MAPI_E_INVALID_PARAMETER, "A folder name must not be empty");
}

void DeleteFolderTree(Db& db, int64_t folderId) {
  std::vector<int64_t> ids;
  {
    CachedStmt s = db.Cached(
        "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
        "SELECT f.id FROM folders f JOIN sub ON f.parent_id = sub.id) SELECT id FROM sub");
    s->Bind(1, folderId);
    while (s->Step()) ids.push_back(s->Int(0));
  }
  for (int64_t id : ids) {
    db.Cached(
          "DELETE FROM props WHERE kind = 3 AND owner IN "
          "(SELECT id FROM messages WHERE folder_id = ?1)")
        ->Bind(1, id)
        .Run();
    db.Cached("DELETE FROM messages WHERE folder_id = ?1")->Bind(1, id).Run();
    db.Cached("DELETE FROM props WHERE kind = 2 AND owner = ?1")->Bind(1, id).Run();
    db.Cached("DELETE FROM folders WHERE id = ?1")->Bind(1, id).Run();
  }
}

}  // namespace

int64_t RequireFolder(Db& db, int64_t folderId) {
  CachedStmt s = db.Cached("SELECT store_id FROM folders WHERE id = ?1");
  s->Bind(1, folderId);
  if (!s->Step()) Fail(MAPI_E_OBJECT_DELETED, "The folder has been deleted");
  return s->Int(0);
}

Variant ReadFolderProp(Connection& conn, int64_t folderId, int64_t storeRow, int32_t tag) {
  Db& db = conn.db();
  if (PropId(tag) == kEntryIdId && PropType(tag) == PT_BINARY) {
    RequireFolder(db, folderId);
    return Variant::Binary(*HexDecode(ObjectEntryId(conn, storeRow, ObjectKind::Folder, folderId)));
  }
  if (PropId(tag) == kDisplayNameId || PropId(tag) == kContentCountId) {
    CachedStmt s = db.Cached("SELECT name, item_count FROM folders WHERE id = ?1");
    s->Bind(1, folderId);
    if (!s->Step()) Fail(MAPI_E_OBJECT_DELETED, "The folder has been deleted");
    if (PropId(tag) == kDisplayNameId && IsString(tag)) return Variant::String(s->Text(0));
    if (PropId(tag) == kContentCountId && PropType(tag) == PT_LONG) {
      return Variant::Long(static_cast<int32_t>(s->Int(1)));
    }
    return Variant();
  }
  RequireFolder(db, folderId);
  const auto v = ReadStoredProp(db, kPropsOfFolder, folderId, tag);
  return v ? FromSql(tag, *v) : Variant();
}

// --- folder ---

std::string EmbeddedFolder::EntryID() {
  return Guarded<std::string>(
      "", [&] { return ObjectEntryId(*conn_, storeRow_, ObjectKind::Folder, id_); });
}

int32_t EmbeddedFolder::GetIDsFromNames(const std::string& guid, const std::string& name) {
  return Guarded(0, [&] {
    RequireFolder(conn_->db(), id_);
    return GetIDsFromNamesOf(*conn_, storeRow_, guid, name);
  });
}

int32_t EmbeddedFolder::LookupIDsFromNames(const std::string& guid, const std::string& name) {
  return Guarded(0, [&] {
    RequireFolder(conn_->db(), id_);
    return GetIDsFromNamesOf(*conn_, storeRow_, guid, name, false);
  });
}

Variant EmbeddedFolder::Fields(int32_t propTag) {
  return Guarded(Variant(), [&] {
    if (PropId(propTag) == kDisplayNameId && IsString(propTag) && pendingName_) {
      conn_->db();
      return Variant::String(*pendingName_);
    }
    if (const SqlValue* p = FindPending(pending_, propTag)) {
      conn_->db();
      return FromSql(propTag, *p);
    }
    return ReadFolderProp(*conn_, id_, storeRow_, propTag);
  });
}

bool EmbeddedFolder::SetFields(int32_t propTag, const Variant& value) {
  return Guarded(false, [&] {
    if (PropId(propTag) == kDisplayNameId && IsString(propTag) &&
        value.type() == Variant::Type::String) {
      if (!SetName(value.AsString())) Fail(oa::Err().Number(), oa::Err().Description());
      return true;
    }
    Db& db = conn_->db();
    RequireFolder(db, id_);
    if (PropId(propTag) == kEntryIdId || PropId(propTag) == kContentCountId) {
      Fail(MAPI_E_NO_ACCESS, "The property " + oa::HexErrorNumber(propTag) + " is read-only");
    }
    const auto v = ToSql(propTag, value);
    if (PropId(propTag) == 0 || !v) {
      Fail(MAPI_E_INVALID_PARAMETER,
           "The value does not fit the property " + oa::HexErrorNumber(propTag));
    }
    pending_[propTag] = *v;
    return true;
  });
}

bool EmbeddedFolder::Save() {
  return Guarded(false, [&] {
    Db& db = conn_->db();
    Txn txn(db);
    RequireFolder(db, id_);
    if (pendingName_) {
      CachedStmt s = db.Cached(
          "SELECT p.name FROM folders c JOIN folders p ON p.id = c.parent_id WHERE c.id = ?1 AND "
          "EXISTS (SELECT 1 FROM folders o WHERE o.parent_id = c.parent_id AND "
          "o.name_fold = ?2 AND o.id <> c.id)");
      s->Bind(1, id_).Bind(2, text::Fold(*pendingName_));
      if (s->Step()) {
        Fail(MAPI_E_COLLISION,
             "A folder named " + *pendingName_ + " already exists in " + s->Text(0));
      }
      db.Cached("UPDATE folders SET name = ?2, name_fold = ?3 WHERE id = ?1")
          ->Bind(1, id_)
          .Bind(2, *pendingName_)
          .Bind(3, text::Fold(*pendingName_))
          .Run();
    }
    WriteStoredProps(db, kPropsOfFolder, id_, pending_);
    txn.Commit();
    pendingName_.reset();
    pending_.clear();
    return true;
  });
}

std::string EmbeddedFolder::Name() {
  return Guarded<std::string>("", [&] {
    CachedStmt s = conn_->db().Cached("SELECT name FROM folders WHERE id = ?1");
    s->Bind(1, id_);
    if (!s->Step()) Fail(MAPI_E_OBJECT_DELETED, "The folder has been deleted");
    return s->Text(0);
  });
}

bool EmbeddedFolder::SetName(const std::string& name) {
  return Guarded(false, [&] {
    RequireFolder(conn_->db(), id_);
    CheckName(name);
    pendingName_ = name;
    return true;
  });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedFolder::Parent() {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        CachedStmt s = conn_->db().Cached("SELECT parent_id FROM folders WHERE id = ?1");
        s->Bind(1, id_);
        if (!s->Step()) Fail(MAPI_E_OBJECT_DELETED, "The folder has been deleted");
        const std::optional<int64_t> parent = s->OptInt(0);
        s->Reset();
        if (!parent) Fail(MAPI_E_NOT_FOUND, "The root folder has no parent");
        return std::make_shared<EmbeddedFolder>(conn_, *parent, storeRow_);
      });
}

std::shared_ptr<mailbox::RDOStore> EmbeddedFolder::Store() {
  return Guarded<std::shared_ptr<mailbox::RDOStore>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOStore> {
        conn_->db();
        return std::make_shared<EmbeddedStore>(conn_, storeRow_);
      });
}

std::shared_ptr<mailbox::RDOItems> EmbeddedFolder::Items() {
  return Guarded<std::shared_ptr<mailbox::RDOItems>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOItems> {
        RequireFolder(conn_->db(), id_);
        return std::make_shared<EmbeddedItems>(conn_, id_, storeRow_);
      });
}

std::shared_ptr<mailbox::RDOFolders> EmbeddedFolder::Folders() {
  return Guarded<std::shared_ptr<mailbox::RDOFolders>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolders> {
        RequireFolder(conn_->db(), id_);
        return std::make_shared<EmbeddedFolders>(conn_, id_, storeRow_);
      });
}

void EmbeddedFolder::Delete() {
  GuardedVoid([&] {
    Db& db = conn_->db();
    Txn txn(db);
    RequireFolder(db, id_);
    const StoreInfo* st = conn_->StoreByRow(storeRow_);
    if (st && (st->rootId == id_ || st->subtreeId == id_)) {
      Fail(MAPI_E_NO_ACCESS, "The folder " + st->displayName + " cannot be deleted");
    }
    DeleteFolderTree(db, id_);
    txn.Commit();
  });
}

// --- folder collection ---

int32_t EmbeddedFolders::Count() {
  return Guarded(0, [&] {
    Db& db = conn_->db();
    RequireFolder(db, parentId_);
    CachedStmt s = db.Cached("SELECT count(*) FROM folders WHERE parent_id = ?1");
    s->Bind(1, parentId_);
    s->Step();
    const auto n = static_cast<int32_t>(s->Int(0));
    return n;
  });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedFolders::Item(int32_t index) {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        Db& db = conn_->db();
        RequireFolder(db, parentId_);
        CachedStmt s =
            db.Cached("SELECT id FROM folders WHERE parent_id = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
        s->Bind(1, parentId_).Bind(2, int64_t{index} - 1);
        if (index < 1 || !s->Step()) {
          Fail(MAPI_E_NOT_FOUND, "There is no subfolder " + std::to_string(index));
        }
        return std::make_shared<EmbeddedFolder>(conn_, s->Int(0), storeRow_);
      });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedFolders::Item(const std::string& name) {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        Db& db = conn_->db();
        RequireFolder(db, parentId_);
        CachedStmt s = db.Cached("SELECT id FROM folders WHERE parent_id = ?1 AND name_fold = ?2");
        s->Bind(1, parentId_).Bind(2, text::Fold(name));
        // A name that no child has is an empty answer, not a failure.
        if (!s->Step()) return nullptr;
        return std::make_shared<EmbeddedFolder>(conn_, s->Int(0), storeRow_);
      });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedFolders::Add(const std::string& name) {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        Db& db = conn_->db();
        Txn txn(db);
        RequireFolder(db, parentId_);
        CheckName(name);
        {
          CachedStmt s = db.Cached(
              "SELECT p.name FROM folders p WHERE p.id = ?1 AND EXISTS "
              "(SELECT 1 FROM folders c WHERE c.parent_id = p.id AND c.name_fold = ?2)");
          s->Bind(1, parentId_).Bind(2, text::Fold(name));
          if (s->Step()) {
            Fail(MAPI_E_COLLISION, "A folder named " + name + " already exists in " + s->Text(0));
          }
        }
        db.Cached(
              "INSERT INTO folders(store_id, parent_id, name, name_fold) VALUES (?1, ?2, ?3, ?4)")
            ->Bind(1, storeRow_)
            .Bind(2, parentId_)
            .Bind(3, name)
            .Bind(4, text::Fold(name))
            .Run();
        const int64_t id = db.LastInsertRowid();
        txn.Commit();
        return std::make_shared<EmbeddedFolder>(conn_, id, storeRow_);
      });
}

}  // namespace oa::store
