// A folder's items: FindItem pages of IDs, the count from the folder's TotalCount, kept in step
// with the deletions this session makes.
#include <algorithm>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

std::optional<int32_t> EwsItems::ReadCount() {
  auto folder = core_->GetFolder(folder_);
  if (!folder) return std::nullopt;
  if (!folder->totalCount)
    Err().Raise(MAPI_E_CALL_FAILED, "The server did not give the folder's item count.");
  return folder->totalCount;
}

bool EwsItems::ReadPage(int32_t offset, std::deque<ItemData>& rows) {
  // IDs only, until the items of a page listed so are asked for more.
  if (listed_ && listed_->basicsAsked) listBasics_ = true;
  auto req = core_->NewRequest("FindItem");
  req->op().append_attribute("Traversal") = "Shallow";
  core_->AppendItemShape(req->op(), {}, listBasics_, folder_.isPublic);
  auto view = req->op().append_child("m:IndexedPageItemView");
  view.append_attribute("MaxEntriesReturned") = kPageSize;
  view.append_attribute("Offset") = offset;
  view.append_attribute("BasePoint") = "Beginning";
  core_->AppendFolderId(req->op().append_child("m:ParentFolderIds"), folder_);
  auto r = core_->SendOne(*req);
  if (!r) return false;
  auto root = Child(r->messages.front().node, "RootFolder");
  listed_ = std::make_shared<ListedPage>();
  for (auto e = Child(root, "Items").first_child(); e; e = e.next_sibling()) {
    if (e.type() != pugi::node_element) continue;
    rows.push_back(core_->ReadItem(e, folder_.isPublic, {}));
    rows.back().page = listed_;
    listed_->ids.push_back(rows.back().id);
  }
  if (auto total = root.attribute("TotalItemsInView")) KnowCount(total.as_int());
  return true;
}

std::shared_ptr<oa::mailbox::RDOMail> EwsItems::Item(int32_t index) {
  const ItemData* row = RowAt(index);
  return row ? std::make_shared<EwsMail>(core_, *row, true) : nullptr;
}

std::shared_ptr<oa::mailbox::RDOMail> EwsItems::GetFirst() {
  return Item(1);
}

std::shared_ptr<oa::mailbox::MAPITable> EwsItems::MAPITable() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<EwsTable>(core_, folder_);
}

std::optional<ItemData> Core::ListedBasics(ListedPage& page, const std::string& ewsId,
                                           bool isPublic) {
  constexpr size_t kGroup = 100;
  auto known = page.basics.find(ewsId);
  if (known != page.basics.end()) return known->second;
  // The item and those after it not read yet: a scan of the page reads them in that order.
  auto at = std::find(page.ids.begin(), page.ids.end(), ewsId);
  if (at == page.ids.end()) return std::nullopt;
  std::vector<std::string> group;
  for (; at != page.ids.end() && group.size() < kGroup; ++at) {
    if (!page.basics.count(*at)) group.push_back(*at);
  }
  page.basicsAsked = true;
  auto req = NewRequest("GetItem");
  AppendItemShape(req->op(), {}, true, isPublic);
  auto ids = req->op().append_child("m:ItemIds");
  for (const std::string& id : group)
    ids.append_child("t:ItemId").append_attribute("Id") = id.c_str();
  // A failure here is not the caller's: it asks for the item alone then.
  oa::ErrScope keep;
  auto r = Send(*req);
  if (!r) return std::nullopt;
  for (size_t k = 0; k < group.size(); ++k) {
    ItemData d;
    const ResponseMessage* m = k < r->messages.size() ? &r->messages[k] : nullptr;
    auto element = m && m->ok() ? Child(m->node, "Items").find_child([](pugi::xml_node n) {
      return n.type() == pugi::node_element;
    })
                                : pugi::xml_node();
    if (element) d = ReadItem(element, isPublic, {});
    d.id = group[k];
    page.basics[group[k]] = std::move(d);
  }
  return page.basics[ewsId];
}

}  // namespace oa::ews
