// Export of a store file as a dump, written as it is read so that memory stays flat in the
// number of messages; and the bulk deletion of a folder's items.
#include <nlohmann/json.hpp>

#include "mailbox/model/const_mapi.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/entry_id.h"
#include "mailbox/store/named_props.h"
#include "mailbox/store/schema.h"
#include "mailbox/store/values.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;
using json = nlohmann::json;

namespace {

std::string Quote(const std::string& s) {
  return json(s).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string TagText(uint32_t tag) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", tag);
  return buf;
}

class Exporter {
 public:
  Exporter(Db& db, std::ostream& out, int maxMessages) : db_(db), out_(out), max_(maxMessages) {}

  void Run() {
    out_ << "{\n  \"format\": " << Quote(kDumpFormat) << ",\n  \"stores\": [";
    struct StoreRow {
      int64_t id, root, subtree;
      Guid guid;
      bool isPublic;
      std::optional<std::string> key;
      std::string name, alias, address;
    };
    std::vector<StoreRow> stores;
    {
      Stmt s(db_,
             "SELECT id, root_id, subtree_id, guid, kind, key, display_name, alias, address "
             "FROM stores ORDER BY seq");
      while (s.Step()) {
        stores.push_back({s.Int(0), s.Int(1), s.Int(2), GuidFromBlob(s.Blob(3)),
                          s.Text(4) == "public",
                          s.IsNull(5) ? std::nullopt : std::optional<std::string>(s.Text(5)),
                          s.Text(6), s.Text(7), s.Text(8)});
      }
    }
    for (size_t i = 0; i < stores.size(); ++i) {
      const StoreRow& st = stores[i];
      guid_ = st.guid;
      storeRow_ = st.id;
      subtree_ = st.subtree;
      isPublic_ = st.isPublic;
      out_ << (i ? "," : "")
           << "\n    {\n      \"kind\": " << (st.isPublic ? "\"public\"" : "\"mailbox\"");
      if (st.key) out_ << ",\n      \"key\": " << Quote(*st.key);
      out_ << ",\n      \"displayName\": " << Quote(st.name);
      if (!st.isPublic) {
        out_ << ",\n      \"alias\": " << Quote(st.alias)
             << ",\n      \"address\": " << Quote(st.address);
      }
      out_ << ",\n      \"entryId\": " << Quote(EntryIdText({guid_, ObjectKind::Store, 0}))
           << ",\n      \"root\": ";
      Folder(st.root, 3, true);
      out_ << "\n    }";
    }
    out_ << (stores.empty() ? "]" : "\n  ]");
    Faults();
    out_ << "\n}\n";
  }

 private:
  static std::string Pad(int level) { return std::string(static_cast<size_t>(level) * 2, ' '); }

  void Folder(int64_t id, int level, bool isRoot) {
    // The root folder is written at level 3.
    if (level - 3 > kMaxFolderDepth)
      Fail(MAPI_E_CORRUPT_DATA, "the store's folders are nested more than " +
                                    std::to_string(kMaxFolderDepth) + " levels deep");
    Stmt f(db_, "SELECT name, key, item_count FROM folders WHERE id = ?1");
    f.Bind(1, id);
    if (!f.Step()) Fail(MAPI_E_CORRUPT_DATA, "a folder of the store is missing");
    const std::string in = Pad(level + 1);
    out_ << "{";
    const char* sep = "\n";
    if (!isRoot) {
      out_ << sep << in << "\"name\": " << Quote(f.Text(0));
      sep = ",\n";
    }
    if (!f.IsNull(1)) {
      out_ << sep << in << "\"key\": " << Quote(f.Text(1));
      sep = ",\n";
    }
    out_ << sep << in << "\"entryId\": " << Quote(EntryIdText({guid_, ObjectKind::Folder, id}));
    if (id == subtree_)
      out_ << ",\n" << in << (isPublic_ ? "\"allPublicFolders\": true" : "\"ipmRoot\": true");
    const int64_t count = f.Int(2);
    std::vector<int64_t> children;
    {
      Stmt c(db_, "SELECT id FROM folders WHERE parent_id = ?1 ORDER BY id");
      c.Bind(1, id);
      while (c.Step()) children.push_back(c.Int(0));
    }
    out_ << ",\n" << in << "\"folders\": [";
    for (size_t i = 0; i < children.size(); ++i) {
      out_ << (i ? ", " : "");
      Folder(children[i], level + 1, false);
    }
    out_ << "],\n" << in << "\"messages\": [";
    int64_t listed = 0;
    {
      Stmt m(db_,
             "SELECT id, key, class, subject, created FROM messages WHERE folder_id = ?1 "
             "ORDER BY id LIMIT ?2");
      m.Bind(1, id).Bind(2, max_ < 0 ? int64_t{-1} : int64_t{max_});
      while (m.Step()) {
        out_ << (listed++ ? "," : "") << "\n" << Pad(level + 2);
        Message(m);
      }
    }
    out_ << (listed ? "\n" + in : "") << "],\n" << in << "\"count\": " << count;
    if (count > listed) out_ << ",\n" << in << "\"items\": " << (count - listed);
    out_ << "\n" << Pad(level) << "}";
  }

  void Message(Stmt& m) {
    const int64_t id = m.Int(0);
    out_ << "{";
    if (!m.IsNull(1)) out_ << "\"key\": " << Quote(m.Text(1)) << ", ";
    out_ << "\"entryId\": " << Quote(EntryIdText({guid_, ObjectKind::Message, id}))
         << ", \"class\": " << Quote(m.Text(2)) << ", \"subject\": " << Quote(m.Text(3))
         << ", \"created\": " << Quote(IsoUtc(m.Int(4)));
    std::string named, props;
    CachedStmt p = db_.Cached("SELECT tag, value FROM props WHERE kind = 3 AND owner = ?1");
    p->Bind(1, id);
    while (p->Step()) {
      const auto tag = static_cast<uint32_t>(p->Int(0));
      const SqlValue v = ColumnSql(*p, 1);
      if ((tag & 0xFFFF) == PT_STRING8 && (tag >> 16) >= kFirstNamedPropId) {
        auto name = NameOfPropId(db_, storeRow_, static_cast<int32_t>(tag >> 16));
        if (name && name->first == PS_PUBLIC_STRINGS && std::holds_alternative<std::string>(v)) {
          named += (named.empty() ? "" : ", ") + Quote(name->second) + ": " +
                   Quote(std::get<std::string>(v));
          continue;
        }
      }
      props += (props.empty() ? "" : ", ") + Quote(TagText(tag)) + ": " + Value(tag, v);
    }
    if (!named.empty()) out_ << ", \"named\": {" << named << "}";
    if (!props.empty()) out_ << ", \"props\": {" << props << "}";
    out_ << "}";
  }

  static std::string Value(uint32_t tag, const SqlValue& v) {
    switch (tag & 0xFFFF) {
      case PT_BOOLEAN:
        return std::get_if<int64_t>(&v) && std::get<int64_t>(v) ? "true" : "false";
      case PT_SYSTIME:
        return Quote(IsoUtc(std::get_if<int64_t>(&v) ? std::get<int64_t>(v) : 0));
      case PT_BINARY:
        return Quote(std::get_if<std::vector<uint8_t>>(&v)
                         ? HexEncode(std::get<std::vector<uint8_t>>(v))
                         : "");
      case PT_I2:
      case PT_LONG:
        return std::to_string(std::get_if<int64_t>(&v) ? std::get<int64_t>(v) : 0);
      default:
        return Quote(std::get_if<std::string>(&v) ? std::get<std::string>(v) : "");
    }
  }

  std::optional<std::string> KeyOf(int64_t kind, int64_t id) {
    const char* table = kind == 1 ? "stores" : kind == 2 ? "folders" : "messages";
    Stmt s(db_, std::string("SELECT key FROM ") + table + " WHERE id = ?1");
    s.Bind(1, id);
    if (!s.Step() || s.IsNull(0)) return std::nullopt;
    return s.Text(0);
  }

  void Faults() {
    Stmt s(db_,
           "SELECT op, target_kind, target_id, error, description, effect, result, after, "
           "times, seen FROM faults ORDER BY id");
    std::vector<std::string> lines;
    while (s.Step()) {
      std::string line = "{\"op\": " + Quote(s.Text(0));
      if (!s.IsNull(1)) {
        auto key = KeyOf(s.Int(1), s.Int(2));
        if (!key) continue;  // its object is gone: the fault can never apply again
        line += ", \"target\": " + Quote(*key);
      }
      if (!s.IsNull(3)) line += ", \"error\": " + Quote(TagText(static_cast<uint32_t>(s.Int(3))));
      if (!s.IsNull(4)) line += ", \"description\": " + Quote(s.Text(4));
      line += ", \"effect\": " + Quote(s.Text(5));
      if (!s.IsNull(6)) line += std::string(", \"result\": ") + (s.Int(6) ? "true" : "false");
      // What is left of the counts, so that an import carries on where this file stands.
      const int64_t after = s.Int(7), seen = s.Int(9);
      line += ", \"after\": " + std::to_string(std::max<int64_t>(0, after - seen));
      if (!s.IsNull(8)) {
        const int64_t used = std::max<int64_t>(0, seen - after);
        line += ", \"times\": " + std::to_string(std::max<int64_t>(0, s.Int(8) - used));
      }
      lines.push_back(line + "}");
    }
    if (lines.empty()) return;
    out_ << ",\n  \"faults\": [";
    for (size_t i = 0; i < lines.size(); ++i) out_ << (i ? "," : "") << "\n    " << lines[i];
    out_ << "\n  ]";
  }

  Db& db_;
  std::ostream& out_;
  int max_;
  Guid guid_{};
  int64_t storeRow_ = 0, subtree_ = 0;
  bool isPublic_ = false;
};

}  // namespace

bool ExportDump(const std::string& storePath, std::ostream& out, int maxMessages,
                std::string* error) {
  try {
    std::unique_ptr<Db> db = OpenStoreFile(storePath, true);
    // One read transaction: the dump shows one state even while another process writes.
    db->Exec("BEGIN");
    Exporter(*db, out, maxMessages).Run();
    db->Exec("COMMIT");
    out.flush();
    if (!out) Fail(MAPI_E_CALL_FAILED, "the dump could not be written");
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

bool BulkDeleteFolderItems(const std::string& storePath, const std::string& folderEntryID,
                           std::string* error) {
  try {
    std::unique_ptr<Db> db = OpenStoreFile(storePath);
    const auto id = ParseEntryIdText(folderEntryID);
    if (!id || id->kind != ObjectKind::Folder) {
      Fail(MAPI_E_INVALID_ENTRYID, "Invalid folder entry ID " + folderEntryID);
    }
    Txn txn(*db);
    {
      CachedStmt s = db->Cached(
          "SELECT s.guid FROM folders f JOIN stores s ON s.id = f.store_id WHERE f.id = ?1");
      s->Bind(1, id->id);
      if (!s->Step() || GuidFromBlob(s->Blob(0)) != id->store) {
        Fail(MAPI_E_NOT_FOUND, "There is no folder " + folderEntryID);
      }
    }
    db->Cached(
          "DELETE FROM props WHERE kind = 3 AND owner IN "
          "(SELECT id FROM messages WHERE folder_id = ?1)")
        ->Bind(1, id->id)
        .Run();
    db->Cached("DELETE FROM messages WHERE folder_id = ?1")->Bind(1, id->id).Run();
    db->Cached("UPDATE folders SET item_count = 0 WHERE id = ?1")->Bind(1, id->id).Run();
    txn.Commit();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

}  // namespace oa::store
