// Messages, item collections and the property storage they share with folders.
#include "base/date.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/named_props.h"
#include "mailbox/store/objects.h"
#include "mailbox/store/schema.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

namespace {

constexpr int32_t kSubjectId = 0x0037;
constexpr int32_t kClassId = 0x001A;
constexpr int32_t kCreationTimeId = 0x3007;
constexpr int32_t kEntryIdId = 0x0FFF;
constexpr int32_t kLongTermEntryIdId = 0x6670;

bool IsString(int32_t tag) {
  return PropType(tag) == PT_STRING8 || PropType(tag) == PT_UNICODE;
}

int32_t OtherStringTag(int32_t tag) {
  return (tag & ~0xFFFF) | (PropType(tag) == PT_STRING8 ? PT_UNICODE : PT_STRING8);
}

bool IsColumn(int32_t tag) {
  const int32_t id = PropId(tag);
  return id == kSubjectId || id == kClassId || id == kCreationTimeId || id == kEntryIdId ||
         id == kLongTermEntryIdId;
}

}  // namespace

// --- shared property storage ---

std::optional<SqlValue> ReadStoredProp(Db& db, int kind, int64_t owner, int32_t tag) {
  CachedStmt s = db.Cached("SELECT value FROM props WHERE kind = ?1 AND owner = ?2 AND tag = ?3");
  const auto key = [](int32_t t) { return static_cast<int64_t>(static_cast<uint32_t>(t)); };
  s->Bind(1, kind).Bind(2, owner).Bind(3, key(tag));
  if (s->Step()) return ColumnSql(*s, 0);
  if (!IsString(tag)) return std::nullopt;
  s->Reset();
  s->Bind(1, kind).Bind(2, owner).Bind(3, key(OtherStringTag(tag)));
  if (s->Step()) return ColumnSql(*s, 0);
  return std::nullopt;
}

void WriteStoredProps(Db& db, int kind, int64_t owner, const PendingProps& props) {
  for (const auto& [tag, value] : props) {
    const auto key = static_cast<int64_t>(static_cast<uint32_t>(tag));
    if (IsString(tag)) {
      db.Cached("DELETE FROM props WHERE kind = ?1 AND owner = ?2 AND tag = ?3")
          ->Bind(1, kind)
          .Bind(2, owner)
          .Bind(3, static_cast<int64_t>(static_cast<uint32_t>(OtherStringTag(tag))))
          .Run();
    }
    CachedStmt s =
        db.Cached("INSERT OR REPLACE INTO props(kind, owner, tag, value) VALUES (?1, ?2, ?3, ?4)");
    s->Bind(1, kind).Bind(2, owner).Bind(3, key);
    BindSql(*s, 4, value);
    s->Step();
  }
}

const SqlValue* FindPending(const PendingProps& pending, int32_t tag) {
  auto it = pending.find(tag);
  if (it == pending.end() && IsString(tag)) it = pending.find(OtherStringTag(tag));
  return it == pending.end() ? nullptr : &it->second;
}

int32_t GetIDsFromNamesOf(Connection& conn, int64_t storeRow, const std::string& guid,
                          const std::string& name, bool create) {
  Db& db = conn.db();
  const auto set = NormalizeGuidText(guid);
  if (!set) Fail(MAPI_E_INVALID_PARAMETER, "Invalid property set " + guid);
  if (name.empty()) Fail(MAPI_E_INVALID_PARAMETER, "A named property needs a name");
  int32_t id = NamedPropId(db, storeRow, *set, name, false);
  if (!id && create) {
    Txn txn(db);
    id = NamedPropId(db, storeRow, *set, name, true);
    txn.Commit();
  }
  return static_cast<int32_t>(static_cast<uint32_t>(id) << 16);
}

void RequireMessage(Db& db, int64_t messageId) {
  CachedStmt s = db.Cached("SELECT 1 FROM messages WHERE id = ?1");
  s->Bind(1, messageId);
  if (!s->Step()) Fail(MAPI_E_OBJECT_DELETED, "The message has been deleted");
}

Variant ReadMessageProp(Connection& conn, int64_t messageId, int64_t storeRow, int32_t tag) {
  Db& db = conn.db();
  if (!IsColumn(tag)) {
    RequireMessage(db, messageId);
    const auto v = ReadStoredProp(db, kPropsOfMessage, messageId, tag);
    return v ? FromSql(tag, *v) : Variant();
  }
  CachedStmt s = db.Cached("SELECT class, subject, created FROM messages WHERE id = ?1");
  s->Bind(1, messageId);
  if (!s->Step()) Fail(MAPI_E_OBJECT_DELETED, "The message has been deleted");
  const int32_t id = PropId(tag);
  if (id == kClassId && IsString(tag)) return Variant::String(s->Text(0));
  if (id == kSubjectId && IsString(tag)) return Variant::String(s->Text(1));
  if (id == kCreationTimeId && PropType(tag) == PT_SYSTIME) {
    return Variant::FromDate(oa::DateFromUnixMillis(s->Int(2)));
  }
  if ((id == kEntryIdId || id == kLongTermEntryIdId) && PropType(tag) == PT_BINARY) {
    return Variant::Binary(
        *HexDecode(ObjectEntryId(conn, storeRow, ObjectKind::Message, messageId)));
  }
  return Variant();
}

bool DeleteMessageRow(Db& db, int64_t messageId, int64_t folderHint) {
  int64_t folder = folderHint;
  if (folder) {
    db.Cached("DELETE FROM messages WHERE id = ?1 AND folder_id = ?2")
        ->Bind(1, messageId)
        .Bind(2, folder)
        .Run();
    if (db.Changes() == 0) folder = 0;  // not there (or not where it was): look it up
  }
  if (!folder) {
    CachedStmt sel = db.Cached("SELECT folder_id FROM messages WHERE id = ?1");
    sel->Bind(1, messageId);
    if (!sel->Step()) return false;
    folder = sel->Int(0);
    sel->Reset();
    db.Cached("DELETE FROM messages WHERE id = ?1")->Bind(1, messageId).Run();
  }
  db.Cached("DELETE FROM props WHERE kind = 3 AND owner = ?1")->Bind(1, messageId).Run();
  db.Cached("UPDATE folders SET item_count = item_count - 1 WHERE id = ?1")->Bind(1, folder).Run();
  return true;
}

// --- items ---

int32_t EmbeddedItems::Count() {
  return Guarded(0, [&] {
    Db& db = conn_->db();
    CachedStmt s = db.Cached("SELECT item_count FROM folders WHERE id = ?1");
    s->Bind(1, folderId_);
    if (!s->Step()) Fail(MAPI_E_OBJECT_DELETED, "The folder has been deleted");
    const auto n = static_cast<int32_t>(s->Int(0));
    return n;
  });
}

std::shared_ptr<mailbox::RDOMail> EmbeddedItems::Item(int32_t index) {
  return Guarded<std::shared_ptr<mailbox::RDOMail>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOMail> {
        Db& db = conn_->db();
        RequireFolder(db, folderId_);
        std::optional<int64_t> id;
        bool known = false;
        if (index > 1 && cursor_.index == index - 1) {
          CachedStmt next = db.Cached(
              "SELECT id FROM messages WHERE folder_id = ?1 AND id > ?2 ORDER BY id LIMIT 1");
          next->Bind(1, folderId_).Bind(2, cursor_.id);
          if (next->Step()) id = next->Int(0);
          // Taken after the lookup, so that the lookup saw the file as the last one did.
          known = db.ChangeStamp() == cursor_.stamp;
        }
        if (!known) {
          CachedStmt s = db.Cached(
              "SELECT id FROM messages WHERE folder_id = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
          s->Bind(1, folderId_).Bind(2, int64_t{index} - 1);
          id.reset();
          if (index >= 1 && s->Step()) id = s->Int(0);
        }
        if (!id) {
          cursor_ = {};
          Fail(MAPI_E_NOT_FOUND, "There is no item " + std::to_string(index));
        }
        cursor_ = {index, *id, db.ChangeStamp()};
        return std::make_shared<EmbeddedMail>(conn_, *id, storeRow_, folderId_);
      });
}

std::shared_ptr<mailbox::RDOMail> EmbeddedItems::GetFirst() {
  return Guarded<std::shared_ptr<mailbox::RDOMail>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOMail> {
        Db& db = conn_->db();
        CachedStmt s =
            db.Cached("SELECT id FROM messages WHERE folder_id = ?1 ORDER BY id LIMIT 1");
        s->Bind(1, folderId_);
        if (!s->Step()) {
          RequireFolder(db, folderId_);
          return nullptr;  // an empty folder has no first item
        }
        return std::make_shared<EmbeddedMail>(conn_, s->Int(0), storeRow_, folderId_);
      });
}

std::shared_ptr<mailbox::MAPITable> EmbeddedItems::MAPITable() {
  return Guarded<std::shared_ptr<mailbox::MAPITable>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::MAPITable> {
        RequireFolder(conn_->db(), folderId_);
        auto table = MakeContentsTable(conn_, folderId_);
        return table;
      });
}

// --- mail ---

std::string EmbeddedMail::EntryID() {
  return Guarded<std::string>(
      "", [&] { return ObjectEntryId(*conn_, storeRow_, ObjectKind::Message, id_); });
}

int32_t EmbeddedMail::GetIDsFromNames(const std::string& guid, const std::string& name) {
  return Guarded(0, [&] {
    RequireMessage(conn_->db(), id_);
    return GetIDsFromNamesOf(*conn_, storeRow_, guid, name);
  });
}

int32_t EmbeddedMail::LookupIDsFromNames(const std::string& guid, const std::string& name) {
  return Guarded(0, [&] {
    RequireMessage(conn_->db(), id_);
    return GetIDsFromNamesOf(*conn_, storeRow_, guid, name, false);
  });
}

Variant EmbeddedMail::Read(int32_t tag) {
  if (const SqlValue* p = FindPending(pending_, tag)) {
    conn_->db();
    return FromSql(tag, *p);
  }
  return ReadMessageProp(*conn_, id_, storeRow_, tag);
}

Variant EmbeddedMail::Fields(int32_t propTag) {
  return Guarded(Variant(), [&] { return Read(propTag); });
}

bool EmbeddedMail::SetFields(int32_t propTag, const Variant& value) {
  return Guarded(false, [&] {
    RequireMessage(conn_->db(), id_);
    const int32_t id = PropId(propTag);
    if (id == kEntryIdId || id == kLongTermEntryIdId) {
      Fail(MAPI_E_NO_ACCESS, "The property " + oa::HexErrorNumber(propTag) + " is read-only");
    }
    const auto v = ToSql(propTag, value);
    const bool columnTypeOk =
        !IsColumn(propTag) ||
        (id == kCreationTimeId ? PropType(propTag) == PT_SYSTIME : IsString(propTag));
    if (id == 0 || !v || !columnTypeOk) {
      Fail(MAPI_E_INVALID_PARAMETER,
           "The value does not fit the property " + oa::HexErrorNumber(propTag));
    }
    pending_[propTag] = *v;
    return true;
  });
}

bool EmbeddedMail::Save() {
  return Guarded(false, [&] {
    Db& db = conn_->db();
    Txn txn(db);
    RequireMessage(db, id_);
    PendingProps rest;
    for (const auto& [tag, value] : pending_) {
      const int32_t id = PropId(tag);
      const char* column = id == kSubjectId        ? "subject"
                           : id == kClassId        ? "class"
                           : id == kCreationTimeId ? "created"
                                                   : nullptr;
      if (!column) {
        rest.emplace(tag, value);
        continue;
      }
      CachedStmt s =
          db.Cached(std::string("UPDATE messages SET ") + column + " = ?2 WHERE id = ?1");
      s->Bind(1, id_);
      BindSql(*s, 2, value);
      s->Step();
    }
    WriteStoredProps(db, kPropsOfMessage, id_, rest);
    txn.Commit();
    pending_.clear();
    return true;
  });
}

std::string EmbeddedMail::MessageClass() {
  return Guarded<std::string>("", [&] {
    Variant v = Read(PR_MESSAGE_CLASS);
    return v.type() == Variant::Type::String ? v.AsString() : std::string();
  });
}

std::string EmbeddedMail::Subject() {
  return Guarded<std::string>("", [&] {
    Variant v = Read(PR_SUBJECT);
    return v.type() == Variant::Type::String ? v.AsString() : std::string();
  });
}

Variant EmbeddedMail::CreationTime() {
  return Guarded(Variant(), [&] {
    Variant v = Read(PR_CREATION_TIME);
    return v;
  });
}

std::shared_ptr<mailbox::RDOStore> EmbeddedMail::Store() {
  return Guarded<std::shared_ptr<mailbox::RDOStore>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOStore> {
        RequireMessage(conn_->db(), id_);
        return std::make_shared<EmbeddedStore>(conn_, storeRow_);
      });
}

void EmbeddedMail::Delete(int32_t /*flags*/) {
  // Every kind of deletion takes the message out of its folder; there is no Deleted Items
  // folder to move it to. Committed before the call returns, like every change.
  GuardedVoid([&] {
    Db& db = conn_->db();
    Txn txn(db);
    if (!DeleteMessageRow(db, id_, folderId_)) {
      Fail(MAPI_E_OBJECT_DELETED, "The message has been deleted");
    }
    txn.Commit();
  });
}

}  // namespace oa::store
