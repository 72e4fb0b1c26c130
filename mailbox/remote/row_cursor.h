// A folder's contents table as a service lists it: the columns asked for, the restriction sent
// along, rows read a page at a time and walked by Find. The service says how the first page and
// the next are read, and where an entry ID column's value comes from.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/variant.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/rdo.h"
#include "mailbox/model/restriction_tree.h"

namespace oa::remote {

inline bool IsEntryIdColumn(int32_t tag) {
  return tag == oa::mailbox::ConstMAPI::PR_LONGTERM_ENTRYID_FROM_TABLE ||
         tag == oa::mailbox::ConstMAPI::PR_ENTRYID;
}

// Row: what the service lists of an item: `subject`, `itemClass`, `created` (optionals) and the
// other columns by tag in `props`.
template <class Row>
class RowCursor : public oa::mailbox::MAPITable, public oa::mailbox::RestrictionSearch {
 public:
  bool SetColumns(const std::vector<int32_t>& propTags) override {
    if (!Alive()) return false;
    columns_ = propTags;
    return true;
  }

  bool Find(const std::shared_ptr<oa::mailbox::RestrictionNode>& restriction, bool next) override {
    if (!Alive()) return false;
    if (!next || position_ < 0) {
      ClearPosition();
      if (!ReadFirst(restriction, rows_)) return false;
      position_ = 0;
      return !rows_.empty();
    }
    ++position_;
    if (position_ < static_cast<int32_t>(rows_.size())) return true;
    if (!MorePages()) {
      position_ = static_cast<int32_t>(rows_.size());
      return false;
    }
    if (!ReadNext(rows_)) return false;
    position_ = 0;
    return !rows_.empty();
  }

  void ClearPosition() override {
    rows_.clear();
    position_ = -1;
    ForgetPages();
  }

  oa::VariantArray GetRow() override {
    using namespace oa::mailbox::ConstMAPI;
    using oa::Variant;
    if (!Alive()) return {};
    if (position_ < 0 || position_ >= static_cast<int32_t>(rows_.size())) return {};
    const Row& row = rows_[static_cast<size_t>(position_)];
    oa::VariantArray values;
    for (int32_t tag : columns_) {
      if (IsEntryIdColumn(tag)) {
        values.push_back(EntryIdOf(static_cast<size_t>(position_)));
      } else if (tag == PR_SUBJECT) {
        values.push_back(row.subject ? Variant::String(*row.subject) : Variant());
      } else if (tag == PR_MESSAGE_CLASS) {
        values.push_back(row.itemClass ? Variant::String(*row.itemClass) : Variant());
      } else if (tag == PR_CREATION_TIME) {
        values.push_back(row.created ? Variant::FromDate(*row.created) : Variant());
      } else {
        auto it = row.props.find(tag);
        values.push_back(it == row.props.end() ? Variant() : it->second);
      }
    }
    return values;
  }

 protected:
  // False, with the error raised, once the session has ended.
  virtual bool Alive() = 0;
  // The first page of rows for the restriction (none: every item); false with the error raised.
  virtual bool ReadFirst(const std::shared_ptr<oa::mailbox::RestrictionNode>& restriction,
                         std::vector<Row>& rows) = 0;
  // Whether pages follow the one read, and the next of them in place of `rows`.
  virtual bool MorePages() const = 0;
  virtual bool ReadNext(std::vector<Row>& rows) = 0;
  // Forgets what is known of the pages (Find starts again).
  virtual void ForgetPages() {}
  // The entry ID column's value for the row at `index` of the page.
  virtual oa::Variant EntryIdOf(size_t index) = 0;

  const std::vector<int32_t>& columns() const { return columns_; }
  const std::vector<Row>& rows() const { return rows_; }

 private:
  std::vector<int32_t> columns_;
  std::vector<Row> rows_;
  int32_t position_ = -1;  // index into rows_
};

}  // namespace oa::remote
