// The contents table of a folder: its messages in creation order, with columns, a restriction
// and a position.
#include "base/date.h"
#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/objects.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

namespace {

struct Restriction {
  int32_t kind = RES_AND;
  std::vector<std::shared_ptr<Restriction>> members;
  int32_t propTag = 0;
  int32_t fuzzy = FL_FULLSTRING;
  Variant value;
};

// The table's state, shared with its filter.
struct TableState {
  ConnPtr conn;
  int64_t folderId = 0;
  std::vector<int32_t> columns;
  std::shared_ptr<Restriction> restriction;
  // The current row's message ID; 0 before the first row, -1 past the end.
  int64_t position = 0;
};

bool ContentMatches(const Restriction& r, const Variant& v) {
  if (v.type() != Variant::Type::String || r.value.type() != Variant::Type::String) return false;
  const bool fold = (r.fuzzy & (FL_IGNORECASE | FL_LOOSE)) != 0;
  const std::string have = fold ? text::Fold(v.AsString()) : v.AsString();
  const std::string want = fold ? text::Fold(r.value.AsString()) : r.value.AsString();
  switch (r.fuzzy & 0xFFFF) {
    case FL_SUBSTRING:
      return have.find(want) != std::string::npos;
    case FL_PREFIX:
      return have.compare(0, want.size(), want) == 0;
    default:
      return have == want;
  }
}

bool Matches(TableState& t, const Restriction& r, int64_t messageId, int64_t storeRow) {
  switch (r.kind) {
    case RES_AND:
      for (const auto& m : r.members) {
        if (!Matches(t, *m, messageId, storeRow)) return false;
      }
      return true;
    case RES_OR:
      for (const auto& m : r.members) {
        if (Matches(t, *m, messageId, storeRow)) return true;
      }
      return false;
    case RES_NOT:
      return r.members.empty() || !Matches(t, *r.members.front(), messageId, storeRow);
    case RES_CONTENT:
      return ContentMatches(r, ReadMessageProp(*t.conn, messageId, storeRow, r.propTag));
    default:
      return false;
  }
}

class Table;

class TableFilter : public mailbox::RDOTableFilter {
 public:
  explicit TableFilter(std::shared_ptr<TableState> t) : t_(std::move(t)) {}
  std::shared_ptr<mailbox::RDORestriction> SetKind(int32_t kind) override;
  bool FindFirst(bool forward) override {
    return Guarded(false, [&] {
      t_->position = forward ? 0 : INT64_MAX;
      return Find(forward);
    });
  }
  bool FindNext(bool forward) override {
    return Guarded(false, [&] {
      if (t_->position < 0) return false;
      return Find(forward);
    });
  }
  void Reset() override { t_->restriction.reset(); }

 private:
  bool Find(bool forward) {
    Db& db = t_->conn->db();
    const int64_t storeRow = RequireFolder(db, t_->folderId);
    Stmt s(db, forward ? "SELECT id FROM messages WHERE folder_id = ?1 AND id > ?2 ORDER BY id"
                       : "SELECT id FROM messages WHERE folder_id = ?1 AND id < ?2 "
                         "ORDER BY id DESC");
    s.Bind(1, t_->folderId).Bind(2, t_->position);
    while (s.Step()) {
      const int64_t id = s.Int(0);
      if (!t_->restriction || Matches(*t_, *t_->restriction, id, storeRow)) {
        t_->position = id;
        return true;
      }
    }
    t_->position = -1;
    return false;
  }
  std::shared_ptr<TableState> t_;
};

class RestrictionHandle : public mailbox::RDORestriction {
 public:
  explicit RestrictionHandle(std::shared_ptr<Restriction> r) : r_(std::move(r)) {}
  int32_t Kind() override { return r_->kind; }
  std::shared_ptr<mailbox::RDORestriction> Add(int32_t kind) override {
    return Guarded<std::shared_ptr<mailbox::RDORestriction>>(
        nullptr, [&]() -> std::shared_ptr<mailbox::RDORestriction> {
          if (r_->kind != RES_AND && r_->kind != RES_OR && r_->kind != RES_NOT) {
            Fail(MAPI_E_INVALID_PARAMETER, "Only AND, OR and NOT restrictions have members");
          }
          auto m = Make(kind);
          r_->members.push_back(m);
          return std::make_shared<RestrictionHandle>(m);
        });
  }
  void SetPropTag(int32_t tag) override { r_->propTag = tag; }
  void SetFuzzyLevel(int32_t level) override { r_->fuzzy = level; }
  void SetProp(const Variant& value) override { r_->value = value; }

  static std::shared_ptr<Restriction> Make(int32_t kind) {
    if (kind != RES_AND && kind != RES_OR && kind != RES_NOT && kind != RES_CONTENT) {
      Fail(MAPI_E_NO_SUPPORT, "Restriction kind " + std::to_string(kind) + " is not supported");
    }
    auto r = std::make_shared<Restriction>();
    r->kind = kind;
    return r;
  }

 private:
  std::shared_ptr<Restriction> r_;
};

std::shared_ptr<mailbox::RDORestriction> TableFilter::SetKind(int32_t kind) {
  return Guarded<std::shared_ptr<mailbox::RDORestriction>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDORestriction> {
        t_->restriction = RestrictionHandle::Make(kind);
        return std::make_shared<RestrictionHandle>(t_->restriction);
      });
}

class Table : public mailbox::MAPITable {
 public:
  Table(ConnPtr conn, int64_t folderId) : t_(std::make_shared<TableState>()) {
    t_->conn = std::move(conn);
    t_->folderId = folderId;
    t_->columns = {PR_ENTRYID, PR_SUBJECT, PR_MESSAGE_CLASS, PR_CREATION_TIME};
  }
  bool SetColumns(const std::vector<int32_t>& propTags) override {
    return Guarded(false, [&] {
      t_->conn->db();
      t_->columns = propTags;
      return true;
    });
  }
  VariantArray GetRow() override {
    return Guarded(VariantArray(), [&] {
      Db& db = t_->conn->db();
      const int64_t storeRow = RequireFolder(db, t_->folderId);
      int64_t id = t_->position;
      if (id == 0) {
        CachedStmt s =
            db.Cached("SELECT id FROM messages WHERE folder_id = ?1 ORDER BY id LIMIT 1");
        s->Bind(1, t_->folderId);
        id = s->Step() ? s->Int(0) : -1;
      }
      VariantArray row;
      if (id <= 0) return row;
      CachedStmt s = db.Cached("SELECT 1 FROM messages WHERE id = ?1 AND folder_id = ?2");
      s->Bind(1, id).Bind(2, t_->folderId);
      if (!s->Step()) return row;  // the row was deleted meanwhile
      for (int32_t tag : t_->columns) row.push_back(ReadMessageProp(*t_->conn, id, storeRow, tag));
      return row;
    });
  }
  std::shared_ptr<mailbox::RDOTableFilter> Filter() override {
    return Guarded<std::shared_ptr<mailbox::RDOTableFilter>>(
        nullptr, [&]() -> std::shared_ptr<mailbox::RDOTableFilter> {
          t_->conn->db();
          return std::make_shared<TableFilter>(t_);
        });
  }

 private:
  std::shared_ptr<TableState> t_;
};

}  // namespace

std::shared_ptr<mailbox::MAPITable> MakeContentsTable(ConnPtr conn, int64_t folderId) {
  return std::make_shared<Table>(std::move(conn), folderId);
}

}  // namespace oa::store
