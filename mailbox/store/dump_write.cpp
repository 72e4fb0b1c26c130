// Writing a checked dump document into a new store file.
#include <string>

#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/dump_document.h"
#include "mailbox/store/named_props.h"

namespace oa::store::dump {

using namespace mailbox::ConstMAPI;

namespace {

class Writer {
 public:
  Writer(Db& db, const Document& doc) : db_(db), r_(doc), nextMessage_(doc.nextMessage) {}

  void Write() {
    Txn txn(db_);
    for (size_t i = 0; i < r_.stores.size(); ++i) {
      const Store& s = r_.stores[i];
      const auto row = static_cast<int64_t>(i) + 1;
      CachedStmt st = db_.Cached(
          "INSERT INTO stores(id, seq, guid, kind, key, display_name, alias, address, root_id, "
          "subtree_id) VALUES (?1, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
      st->Bind(1, row)
          .Bind(2, GuidBlob(s.guid))
          .Bind(3, std::string(s.isPublic ? "public" : "mailbox"));
      s.key ? st->Bind(4, *s.key) : st->BindNull(4);
      st->Bind(5, s.displayName);
      s.isPublic ? st->BindNull(6) : st->Bind(6, s.alias);
      s.isPublic ? st->BindNull(7) : st->Bind(7, s.address);
      st->Bind(8, s.root.id).Bind(9, s.subtreeId).Run();
      WriteFolder(s.root, row, std::nullopt);
    }
    for (const Fault& f : r_.faults) {
      CachedStmt st = db_.Cached(
          "INSERT INTO faults(op, target_kind, target_id, error, description, effect, result, "
          "after, times) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
      st->Bind(1, f.op);
      if (f.resolved) {
        st->Bind(2, static_cast<int64_t>(f.resolved->kind)).Bind(3, f.resolved->id);
      }
      st->Bind(4, f.error);
      f.description ? st->Bind(5, *f.description) : st->BindNull(5);
      st->Bind(6, f.effect);
      if (f.result) st->Bind(7, int64_t{*f.result ? 1 : 0});
      st->Bind(8, f.after).Bind(9, f.times).Run();
    }
    txn.Commit();
  }

 private:
  void WriteFolder(const Folder& f, int64_t storeRow, std::optional<int64_t> parent) {
    CachedStmt st = db_.Cached(
        "INSERT INTO folders(id, store_id, parent_id, name, name_fold, key, item_count) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    st->Bind(1, f.id).Bind(2, storeRow).Bind(3, parent).Bind(4, f.name).Bind(5, text::Fold(f.name));
    f.key ? st->Bind(6, *f.key) : st->BindNull(6);
    st->Bind(7, static_cast<int64_t>(f.messages.size()) + f.items).Run();
    for (const Message& m : f.messages) WriteMessage(m, f.id, storeRow);
    WriteFillers(f);
    for (const Folder& c : f.folders) WriteFolder(c, storeRow, f.id);
  }

  void InsertMessage(int64_t id, int64_t folder, const std::optional<std::string>& key,
                     const std::string& cls, const std::string& subject, int64_t created) {
    CachedStmt st = db_.Cached(
        "INSERT INTO messages(id, folder_id, key, class, subject, created) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    st->Bind(1, id).Bind(2, folder);
    key ? st->Bind(3, *key) : st->BindNull(3);
    st->Bind(4, cls).Bind(5, subject).Bind(6, created).Run();
  }

  void WriteMessage(const Message& m, int64_t folder, int64_t storeRow) {
    InsertMessage(m.id, folder, m.key, m.cls, m.subject, m.created);
    CachedStmt st =
        db_.Cached("INSERT OR REPLACE INTO props(kind, owner, tag, value) VALUES (3, ?1, ?2, ?3)");
    for (const auto& [tag, value] : m.props) {
      st->Bind(1, m.id).Bind(2, static_cast<int64_t>(static_cast<uint32_t>(tag)));
      BindSql(*st, 3, value);
      st->Run();
    }
    for (const NamedValue& nv : m.named) {
      const int32_t id = NamedPropId(db_, storeRow, PS_PUBLIC_STRINGS, nv.name, true);
      const uint32_t tag = (static_cast<uint32_t>(id) << 16) | PT_STRING8;
      st->Bind(1, m.id).Bind(2, static_cast<int64_t>(tag)).Bind(3, nv.text).Run();
    }
  }

  void WriteFillers(const Folder& f) {
    const std::optional<std::string> noKey;
    const std::string cls = "IPM.Note";
    for (int64_t i = 1; i <= f.items; ++i) {
      InsertMessage(nextMessage_++, f.id, noKey, cls, "Item " + std::to_string(i),
                    r_.now - (f.items - i) * 1000);
    }
  }

  Db& db_;
  const Document& r_;
  int64_t nextMessage_;
};

}  // namespace

void WriteDocument(Db& db, const Document& doc) {
  Writer(db, doc).Write();
}

}  // namespace oa::store::dump
