#include "mailbox/item_deleter.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/mapi_error.h"

namespace oa::mailbox {

ItemDeleter::ItemDeleter(std::shared_ptr<RDOItems> items) : items_(std::move(items)) {}

bool ItemDeleter::Start() {
  ReadCount(0);
  return countRead_;
}

ItemDeleter::Step ItemDeleter::DeleteNext() {
  Step step;
  auto item = Fetch();
  if (const int32_t refused = items_->TakeRefusedDeletes(false); refused > 0) {
    RefusedLater(refused);
    ReadCount(refused);
    step.refusedEarlier = refused;
    return step;
  }
  step.tried = true;
  const std::string itemID = item ? item->EntryID() : "";
  if (item) item->Delete();
  Err().Clear();
  const int64_t after = items_->Count();
  countRead_ = !Err().Pending();
  // Taken also when the count could not be read: the items are back all the same.
  const int32_t refused = items_->TakeRefusedDeletes(false);
  // When deletes came back refused, this one went out with them or waits in the next group.
  bool gone = (countRead_ && after < count_) || (refused > 0 && item);
  if (countRead_ && !gone && item) {
    auto again = Fetch();
    gone = !again || again->EntryID() != itemID;
  }
  // A count that cannot be read is the one last known, this item gone and the refused ones back.
  count_ = countRead_ ? after : count_ + refused - (gone ? 1 : 0);
  if (gone) {
    ++deleted_;
  } else {
    ++position_;
    ++skipped_;
  }
  if (refused > 0) RefusedLater(refused);
  step.gone = gone;
  step.refusedEarlier = refused;
  return step;
}

bool ItemDeleter::ItemsCameBack() {
  const int32_t late = items_->TakeRefusedDeletes(countRead_);
  if (late <= 0) return false;
  RefusedLater(late);
  if (!countRead_) {
    count_ += late;
    return false;
  }
  ReadCount(late);
  return countRead_;
}

void ItemDeleter::Stop(bool send) {
  if (send) {
    const int32_t late = std::max(items_->TakeRefusedDeletes(true), 0);
    if (late > 0) RefusedLater(late);
    ReadCount(late);
  } else if (const int32_t late = items_->TakeRefusedDeletes(false); late > 0) {
    RefusedLater(late);
    count_ += late;
  }
}

std::shared_ptr<RDOMail> ItemDeleter::Fetch() {
  return position_ == 1 ? items_->GetFirst() : items_->Item(static_cast<int32_t>(position_));
}

void ItemDeleter::ReadCount(int32_t back) {
  Err().Clear();
  const int64_t n = items_->Count();
  countRead_ = !Err().Pending();
  count_ = countRead_ ? n : count_ + back;
}

void ItemDeleter::RefusedLater(int32_t refused) {
  deleted_ -= refused;
  skipped_ += refused;
  position_ += refused;
}

}  // namespace oa::mailbox
