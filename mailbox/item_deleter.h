// Empties an item collection one item at a time from its front, and keeps the tally of what is
// gone, skipped and left. A backend may hold deletes back and send them in groups; the server
// may refuse some of them when it gets them. Such an item is back in the collection, ahead of
// every item not deleted yet: the tally takes it back from the deleted and counts it skipped,
// and the deleter's position moves past it, so that it is not tried again.
//
// An item is judged gone by the count, whatever its delete reported (a delete may fail
// silently); when items added meanwhile keep the count up, by whether it is still where it was.
#pragma once

#include <cstdint>
#include <memory>

#include "mailbox/model/rdo.h"

namespace oa::mailbox {

class ItemDeleter {
 public:
  // What one DeleteNext did.
  struct Step {
    // False when nothing was tried: fetching the next item sent held-back deletes, some came back
    // refused, and the position now names another item.
    bool tried = false;
    // The item tried is gone, or went out in a group of deletes.
    bool gone = false;
    // Deletes sent earlier that the server refused now.
    int32_t refusedEarlier = 0;
  };

  explicit ItemDeleter(std::shared_ptr<RDOItems> items);

  // Reads the count first. False, with the error pending, when it cannot be read; nothing else
  // may be called then.
  bool Start();
  // An item is left to try: the count was read, and reaches past the items skipped.
  bool ItemsLeft() const { return countRead_ && count_ >= position_; }
  // Deletes the item at the position and takes the deletes refused since.
  Step DeleteNext();
  // Called when the items look all gone: what is still held back goes out (unless the count
  // could not be read) and the refusals are taken. True when some came back and the count was
  // read again: the emptying goes on.
  bool ItemsCameBack();
  // The emptying stops. With `send` (the session still open) what is held back goes out and the
  // count is read again, so that the count told is the folder's; without, only the refusals
  // known already are taken.
  void Stop(bool send);

  int64_t deleted() const { return deleted_; }
  int64_t skipped() const { return skipped_; }
  // The collection's count as last read, or as last known with the refused items added.
  int64_t left() const { return count_; }
  // The last count was read and is 0.
  bool Emptied() const { return countRead_ && count_ == 0; }

 private:
  std::shared_ptr<RDOMail> Fetch();
  // Reads the count; one that cannot be read stays as last known with `back` items added.
  void ReadCount(int32_t back);
  // Items whose deletes were refused after they were counted gone.
  void RefusedLater(int32_t refused);

  std::shared_ptr<RDOItems> items_;
  int64_t count_ = -1;
  bool countRead_ = false;
  // Items before it could not be deleted; they stay where they are in the collection.
  int64_t position_ = 1;
  int64_t deleted_ = 0;
  int64_t skipped_ = 0;
};

}  // namespace oa::mailbox
