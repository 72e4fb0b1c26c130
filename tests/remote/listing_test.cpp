// A folder's items a page at a time, kept in step with the session's deletes; the contents
// table's cursor; the named-property IDs both services hand out.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "base/variant.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/remote/named_props.h"
#include "mailbox/remote/paged_items.h"
#include "mailbox/remote/row_cursor.h"

namespace oa::remote {
namespace {

using namespace oa::mailbox::ConstMAPI;

struct Row {
  std::string id;
  std::optional<std::string> subject, itemClass;
  std::optional<oa::Date> created;
  std::map<int32_t, Variant> props;
};

// A folder of `folder` items listed `pageSize` to a page.
class Listing : public PagedItems<Row> {
 public:
  std::vector<std::string> folder;
  int pageSize = 2;
  int pagesRead = 0, countsRead = 0, settled = 0;

  int32_t Count() { return CountItems(); }
  const Row* At(int32_t i) { return RowAt(i); }
  int32_t Refused(bool settle) { return TakeRefused(settle); }

 private:
  bool Alive() override { return true; }
  std::optional<int32_t> ReadCount() override {
    ++countsRead;
    return static_cast<int32_t>(folder.size());
  }
  bool ReadPage(int32_t offset, std::deque<Row>& rows) override {
    ++pagesRead;
    for (int32_t i = offset; i < offset + pageSize && i < static_cast<int32_t>(folder.size()); ++i)
      rows.push_back(Row{folder[static_cast<size_t>(i)], {}, {}, {}, {}});
    return true;
  }
  void SettleDeletes() override { ++settled; }
};

TEST(PagedListing, ItemsComeAPageAtATimeAndTheCountIsReadOnce) {
  Err().Clear();
  Listing l;
  l.folder = {"a", "b", "c"};
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.At(1)->id, "a");
  EXPECT_EQ(l.At(2)->id, "b");
  EXPECT_EQ(l.pagesRead, 1);
  EXPECT_EQ(l.At(3)->id, "c");
  EXPECT_EQ(l.pagesRead, 2);
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.countsRead, 1);
  EXPECT_EQ(l.At(4), nullptr);
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
  EXPECT_EQ(Err().Description(), "There is no item at that position.");
}

TEST(PagedListing, DeletesFromTheFrontCostNoListingAndARefusedOneCountsAgain) {
  Listing l;
  l.pageSize = 10;
  l.folder = {"a", "b", "c"};
  ASSERT_EQ(l.Count(), 3);
  ASSERT_EQ(l.At(1)->id, "a");
  l.ItemDeleted("a");
  l.ItemDeleted("b");
  EXPECT_EQ(l.Count(), 1);
  EXPECT_EQ(l.At(1)->id, "c");
  EXPECT_EQ(l.pagesRead, 1);
  // An item of another folder: this page covers its whole folder, so nothing changes.
  l.ItemDeleted("elsewhere");
  EXPECT_EQ(l.Count(), 1);
  EXPECT_EQ(l.countsRead, 1);
  // The service refused "b": it is back, read again from the service.
  l.DeleteRefused("b");
  l.DeleteRefused("never deleted here");
  l.folder = {"b", "c"};
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.countsRead, 2);
  EXPECT_EQ(l.Refused(true), 1);
  EXPECT_EQ(l.settled, 1);
  EXPECT_EQ(l.Refused(false), 0);
  EXPECT_EQ(l.settled, 1);
}

TEST(PagedListing, ADeleteNotInAPartialPageIsTakenAsOneOfTheFolders) {
  Listing l;
  l.folder = {"a", "b", "c"};
  ASSERT_EQ(l.Count(), 3);
  ASSERT_EQ(l.At(1)->id, "a");
  // Beyond the page: it may be one of this folder's, so the count is read again.
  l.ItemDeleted("c");
  l.folder = {"a", "b"};
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.countsRead, 2);
}

// Two pages of rows; the entry ID column from the cursor's own source.
class Cursor : public RowCursor<Row> {
 public:
  std::vector<std::vector<Row>> pages;
  size_t next = 0;
  std::shared_ptr<oa::mailbox::RDOTableFilter> Filter() override { return nullptr; }

 private:
  bool Alive() override { return true; }
  bool ReadFirst(const std::shared_ptr<oa::mailbox::RestrictionNode>&,
                 std::vector<Row>& rows) override {
    next = 1;
    rows = pages.at(0);
    return true;
  }
  bool MorePages() const override { return next < pages.size(); }
  bool ReadNext(std::vector<Row>& rows) override {
    rows = pages.at(next++);
    return true;
  }
  Variant EntryIdOf(size_t index) override {
    return Variant::String("entry of " + rows().at(index).id);
  }
};

TEST(RowCursor, FindWalksEveryPageAndGetRowGivesTheColumnsAskedFor) {
  Cursor c;
  Row a{"a", std::string("first"), std::string("IPM.Note"), std::nullopt, {}};
  Row b{"b", std::nullopt, std::nullopt, std::nullopt, {{0x10010003, Variant::Long(7)}}};
  c.pages = {{a}, {b}};
  ASSERT_TRUE(c.SetColumns({PR_SUBJECT, PR_ENTRYID, 0x10010003, PR_MESSAGE_CLASS}));
  EXPECT_TRUE(c.GetRow().empty());
  ASSERT_TRUE(c.Find(nullptr, false));
  auto row = c.GetRow();
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row[0].AsString(), "first");
  EXPECT_EQ(row[1].AsString(), "entry of a");
  EXPECT_EQ(row[2].type(), Variant::Type::Empty);
  EXPECT_EQ(row[3].AsString(), "IPM.Note");
  ASSERT_TRUE(c.Find(nullptr, true));
  row = c.GetRow();
  EXPECT_EQ(row[0].type(), Variant::Type::Empty);
  EXPECT_EQ(row[2].AsLong(), 7);
  EXPECT_FALSE(c.Find(nullptr, true));
  EXPECT_TRUE(c.GetRow().empty());
  // A new search starts from the first page again.
  ASSERT_TRUE(c.Find(nullptr, false));
  EXPECT_EQ(c.GetRow()[1].AsString(), "entry of a");
}

TEST(NamedProps, IdsPerSetAndNameInAnyCaseUpToTheLastThereIs) {
  NamedPropMap map;
  const int32_t id = map.IdFor("{00020329-0000-0000-c000-000000000046}", "HHEntryID");
  EXPECT_EQ(id, NamedPropMap::kFirstId);
  EXPECT_EQ(map.IdFor("00020329-0000-0000-C000-000000000046", "HHEntryID"), id);
  EXPECT_EQ(map.IdFor("00020329-0000-0000-C000-000000000046", "HHPath"), id + 1);
  EXPECT_EQ(map.IdFor("not a guid", "HHPath"), 0);
  EXPECT_EQ(map.IdFor("00020329-0000-0000-C000-000000000046", ""), 0);
  EXPECT_EQ(map.Find(id)->name, "HHEntryID");
  EXPECT_EQ(map.AllStringTags(),
            (std::vector<int32_t>{(id << 16) | PT_STRING8, ((id + 1) << 16) | PT_STRING8}));
  for (int32_t n = id + 2; n <= NamedPropMap::kLastId; ++n)
    ASSERT_EQ(map.IdFor("00020329-0000-0000-C000-000000000046", std::to_string(n)), n);
  EXPECT_EQ(map.IdFor("00020329-0000-0000-C000-000000000046", "one too many"), 0);
  EXPECT_EQ(PropTypeOf(PropTypeName(PT_SYSTIME)), PT_SYSTIME);
  EXPECT_EQ(PropTypeOf("Double"), std::nullopt);
}

}  // namespace
}  // namespace oa::remote
