// A folder's items: FindItem pages of IDs, the count from the folder's TotalCount, kept in step
// with the deletions this session makes.
#include <algorithm>
#include <utility>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;
using oa::mailbox::Err;

int32_t EwsItems::Count() {
  if (!core_->Alive()) return 0;
  if (total_) return *total_;
  auto folder = core_->GetFolder(folder_);
  if (!folder) return 0;
  if (!folder->totalCount) {
    Err().Raise(MAPI_E_CALL_FAILED, "The server did not give the folder's item count.");
    return 0;
  }
  total_ = folder->totalCount;
  return *total_;
}

bool EwsItems::LoadPage(int32_t offset) {
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
  page_.clear();
  pageStart_ = offset;
  listed_ = std::make_shared<ListedPage>();
  for (auto e = Child(root, "Items").first_child(); e; e = e.next_sibling()) {
    if (e.type() != pugi::node_element) continue;
    page_.push_back(core_->ReadItem(e, folder_.isPublic, {}));
    page_.back().page = listed_;
    listed_->ids.push_back(page_.back().id);
  }
  if (auto total = root.attribute("TotalItemsInView")) total_ = total.as_int();
  pageValid_ = true;
  return true;
}

std::shared_ptr<oa::mailbox::RDOMail> EwsItems::Item(int32_t index) {
  if (!core_->Alive()) return nullptr;
  auto inPage = [&] {
    return pageValid_ && index - 1 >= pageStart_ &&
           index - 1 < pageStart_ + static_cast<int32_t>(page_.size());
  };
  if (index >= 1 && !inPage() && !(total_ && index > *total_)) {
    if (!LoadPage(index - 1)) return nullptr;
  }
  if (index < 1 || !inPage()) {
    Err().Raise(MAPI_E_NOT_FOUND, "There is no item at that position.");
    return nullptr;
  }
  return std::make_shared<EwsMail>(core_, page_[static_cast<size_t>(index - 1 - pageStart_)], true);
}

std::shared_ptr<oa::mailbox::RDOMail> EwsItems::GetFirst() {
  return Item(1);
}

std::shared_ptr<oa::mailbox::MAPITable> EwsItems::MAPITable() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<EwsTable>(core_, folder_);
}

int32_t EwsItems::TakeRefusedDeletes(bool settle) {
  if (settle && !core_->ended()) core_->SendQueuedDeletes();
  return std::exchange(refused_, 0);
}

void EwsItems::Forget() {
  pageValid_ = false;
  page_.clear();
  total_.reset();
}

void EwsItems::ItemDeleted(const std::string& ewsId) {
  if (pageValid_) {
    for (auto it = page_.begin(); it != page_.end(); ++it) {
      if (it->id != ewsId) continue;
      page_.erase(it);
      if (total_ && *total_ > 0) --*total_;
      deletedHere_.insert(ewsId);
      return;
    }
    // Not among the items known: ours only if the page does not cover the whole folder.
    if (total_ && pageStart_ == 0 && static_cast<int32_t>(page_.size()) >= *total_) return;
  }
  Forget();
}

void EwsItems::DeleteRefused(const std::string& ewsId) {
  if (!deletedHere_.erase(ewsId)) return;
  ++refused_;
  // Back in the folder where the server lists it: the page and the count are read again.
  Forget();
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
  oa::mailbox::ErrScope keep;
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
