// A folder's items as a service lists them: a page of rows at a time, kept, so that walking the
// items, or deleting them one by one from the front, costs one listing per page; the count from
// the folder, kept in step with the deletes this session makes. A delete of one of its items is
// queued (delete_queue.h): the count leaves it out, and one the service refuses later is counted
// again. The service says how a page and the count are read.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/remote/delete_queue.h"

namespace oa::remote {

// Row: what the service lists of an item, with its ID as `id`.
template <class Row>
class PagedItems : public DeletionListener {
 public:
  void ItemDeleted(const std::string& id) override {
    if (pageValid_) {
      for (auto it = page_.begin(); it != page_.end(); ++it) {
        if (it->id != id) continue;
        page_.erase(it);
        if (total_ && *total_ > 0) --*total_;
        deletedHere_.insert(id);
        return;
      }
      // Not among the items known: ours only if the page does not cover the whole folder.
      if (total_ && pageStart_ == 0 && static_cast<int32_t>(page_.size()) >= *total_) return;
    }
    Forget();
  }
  void DeleteRefused(const std::string& id) override {
    if (!deletedHere_.erase(id)) return;
    ++refused_;
    // Back in the folder where the service lists it: the page and the count are read again.
    Forget();
  }
  void DeletesSettled() override { deletedHere_.clear(); }

 protected:
  explicit PagedItems(std::optional<int32_t> total = std::nullopt) : total_(total) {}

  // False, with the error raised, once the session has ended.
  virtual bool Alive() = 0;
  // The folder's item count; nullopt with the error raised.
  virtual std::optional<int32_t> ReadCount() = 0;
  // The rows from position offset + 1 on; false with the error raised. It may learn the count
  // on the way (KnowCount).
  virtual bool ReadPage(int32_t offset, std::deque<Row>& rows) = 0;
  // Sends the session's queued deletes, if it has not ended.
  virtual void SettleDeletes() = 0;

  int32_t CountItems() {
    if (!Alive()) return 0;
    if (total_) return *total_;
    auto count = ReadCount();
    if (!count) return 0;
    total_ = count;
    return *total_;
  }

  // The row at a position from 1; null with the error raised when there is none.
  const Row* RowAt(int32_t index) {
    if (!Alive()) return nullptr;
    auto inPage = [&] {
      return pageValid_ && index - 1 >= pageStart_ &&
             index - 1 < pageStart_ + static_cast<int32_t>(page_.size());
    };
    if (index >= 1 && !inPage() && !(total_ && index > *total_)) {
      std::deque<Row> rows;
      if (!ReadPage(index - 1, rows)) return nullptr;
      page_ = std::move(rows);
      pageStart_ = index - 1;
      pageValid_ = true;
    }
    if (index < 1 || !inPage()) {
      oa::Err().Raise(oa::mailbox::ConstMAPI::MAPI_E_NOT_FOUND,
                      "There is no item at that position.");
      return nullptr;
    }
    return &page_[static_cast<size_t>(index - 1 - pageStart_)];
  }

  int32_t TakeRefused(bool settle) {
    if (settle) SettleDeletes();
    return std::exchange(refused_, 0);
  }

  void KnowCount(int32_t count) { total_ = count; }

 private:
  void Forget() {
    pageValid_ = false;
    page_.clear();
    total_.reset();
  }

  std::optional<int32_t> total_;
  // Items from position pageStart_ + 1 on, as the service listed them.
  int32_t pageStart_ = 0;
  std::deque<Row> page_;
  bool pageValid_ = false;
  // Items of this collection told deleted and not settled yet, and those refused since asked.
  std::set<std::string> deletedHere_;
  int32_t refused_ = 0;
};

}  // namespace oa::remote
