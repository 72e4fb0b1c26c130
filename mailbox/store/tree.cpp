#include "mailbox/store/tree.h"

#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/entry_id.h"
#include "mailbox/store/schema.h"
#include "mailbox/store/store_error.h"

namespace oa::store {
namespace {

using mailbox::ConstMAPI::MAPI_E_CORRUPT_DATA;

void PrintFolder(Db& db, const Guid& guid, int64_t id, int level, std::ostream& out) {
  // The root folder is level 1.
  if (level - 1 > kMaxFolderDepth)
    Fail(MAPI_E_CORRUPT_DATA, "the store's folders are nested more than " +
                                  std::to_string(kMaxFolderDepth) + " levels deep");
  std::vector<int64_t> children;
  {
    Stmt s(db, "SELECT name, item_count FROM folders WHERE id = ?1");
    s.Bind(1, id);
    if (!s.Step()) return;
    const std::string name = level == 1 ? "(root)" : s.Text(0);
    out << std::string(static_cast<size_t>(level) * 2, ' ') << name << "  [" << s.Int(1)
        << (s.Int(1) == 1 ? " item]  " : " items]  ") << EntryIdText({guid, ObjectKind::Folder, id})
        << "\n";
  }
  Stmt c(db, "SELECT id FROM folders WHERE parent_id = ?1 ORDER BY id");
  c.Bind(1, id);
  while (c.Step()) children.push_back(c.Int(0));
  for (int64_t child : children) PrintFolder(db, guid, child, level + 1, out);
}

}  // namespace

bool PrintTree(const std::string& storePath, const std::string& mailbox, std::ostream& out,
               std::string* error) {
  try {
    std::unique_ptr<Db> db = OpenStoreFile(storePath, true);
    db->Exec("BEGIN");
    struct Row {
      Guid guid;
      std::string kind, name, alias, address;
      int64_t root;
    };
    std::vector<Row> rows;
    {
      Stmt s(*db,
             "SELECT guid, kind, display_name, alias, address, root_id FROM stores "
             "ORDER BY seq");
      while (s.Step()) {
        rows.push_back(
            {GuidFromBlob(s.Blob(0)), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Int(5)});
      }
    }
    bool found = false;
    for (const Row& r : rows) {
      if (!mailbox.empty() &&
          (r.kind != "mailbox" || (text::Fold(r.alias) != text::Fold(mailbox) &&
                                   text::Fold(r.address) != text::Fold(mailbox)))) {
        continue;
      }
      found = true;
      out << r.name;
      if (r.kind == "mailbox") {
        out << "  (mailbox " << r.alias << ", " << r.address << ")";
      } else {
        out << "  (public folders)";
      }
      out << "  " << EntryIdText({r.guid, ObjectKind::Store, 0}) << "\n";
      PrintFolder(*db, r.guid, r.root, 1, out);
    }
    db->Exec("COMMIT");
    if (!found && !mailbox.empty()) {
      if (error) *error = "there is no mailbox " + mailbox + " in " + storePath;
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

}  // namespace oa::store
