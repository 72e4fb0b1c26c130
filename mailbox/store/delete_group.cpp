#include "mailbox/store/delete_group.h"

#include "mailbox/model/const_mapi.h"
#include "mailbox/store/objects.h"
#include "mailbox/store/sqlite_db.h"
#include "mailbox/store/store_error.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<bool> groupDeletes{true};
std::atomic<int64_t> groupAgeMillis{2};
// The group holding a transaction open; at most one per process. Guarded by StoreCallLock().
DeleteGroup* openGroup = nullptr;

}  // namespace

void SetGroupDeletes(bool on) {
  groupDeletes = on;
}
bool GroupDeletes() {
  return groupDeletes;
}
void SetDeleteGroupAge(std::chrono::milliseconds age) {
  groupAgeMillis = age.count();
}
std::chrono::milliseconds DeleteGroupAge() {
  return std::chrono::milliseconds(groupAgeMillis.load());
}

void CommitOpenDeleteGroup(const DeleteGroup* except) {
  std::lock_guard<std::recursive_mutex> call(StoreCallLock());
  if (openGroup && openGroup != except) openGroup->Commit();
}

DeleteGroup::DeleteGroup(Db& db, const std::string& storePath) : db_(db), journal_(storePath) {}

DeleteGroup::~DeleteGroup() {
  {
    std::lock_guard<std::recursive_mutex> call(StoreCallLock());
    try {
      Commit();
    } catch (const StoreError&) {
      // The journal keeps the deletes; the next opener applies them.
    }
  }
  {
    std::lock_guard<std::mutex> lk(flusherMutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (flusher_.joinable()) flusher_.join();
}

void DeleteGroup::Delete(int64_t messageId, int64_t folderHint) {
  std::lock_guard<std::recursive_mutex> call(StoreCallLock());
  if (!open_) Begin();
  bool found = false;
  try {
    found = DeleteMessageRow(db_, messageId, folderHint);
  } catch (...) {
    // Part of this delete may stand: start over from the journal, which holds the earlier
    // ones, so that they stay done and this one is not half done.
    RestartFromJournal();
    throw;
  }
  if (!found) Fail(MAPI_E_OBJECT_DELETED, "The message has been deleted");
  journal_.Append(messageId);
  // A caller that deletes without pause keeps the helper thread out; it commits by itself.
  if (journal_.size() >= PendingJournal::kCapacity || Clock::now() - started_ >= DeleteGroupAge()) {
    Commit();
  }
}

void DeleteGroup::RestartFromJournal() {
  Abandon();
  try {
    Begin();
  } catch (const StoreError&) {
    // Still in the journal; the next call or the next opener applies them.
  }
}

void DeleteGroup::Abandon() {
  if (!sqlite3_get_autocommit(db_.handle())) {
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Closed();
  replay_ = true;
}

void DeleteGroup::Closed() {
  open_ = false;
  pending_ = false;
  if (openGroup == this) openGroup = nullptr;
}

void DeleteGroup::Begin() {
  CommitOpenDeleteGroup(this);
  // A writer of another process polls for the file; leave it a moment to get in.
  const auto asked = Clock::now();
  while (db_.OthersWaitingToWrite() && Clock::now() - asked < std::chrono::milliseconds(200)) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  db_.BeginImmediate();
  try {
    if (replay_) ApplyPendingDeletes(db_, journal_.Records());
  } catch (...) {
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  replay_ = false;
  open_ = true;
  started_ = Clock::now();
  openGroup = this;
  if (!flusher_.joinable()) flusher_ = std::thread([this] { Flusher(); });
  pending_ = true;
  wake_.notify_one();
}

void DeleteGroup::Commit() {
  std::lock_guard<std::recursive_mutex> call(StoreCallLock());
  if (open_) CommitLocked();
}

void DeleteGroup::CommitLocked() {
  try {
    db_.Cached("COMMIT")->Run();
  } catch (const StoreError&) {
    // Once more from the journal in a fresh transaction, so that the deletes that returned
    // do not come back; failing that, they wait in the journal.
    Abandon();
    Begin();
    try {
      db_.Cached("COMMIT")->Run();
    } catch (...) {
      Abandon();
      throw;
    }
  }
  Closed();
  journal_.Reset();
}

void DeleteGroup::Flusher() {
  std::unique_lock<std::mutex> lk(flusherMutex_);
  bool retry = false;
  while (!stop_) {
    if (!pending_) {
      wake_.wait(lk, [&] { return stop_ || pending_; });
      continue;
    }
    if (retry) {
      wake_.wait_for(lk, std::chrono::microseconds(100));
    } else {
      wake_.wait_for(lk, DeleteGroupAge());
    }
    if (stop_) break;
    lk.unlock();
    {
      // The caller's own calls hold the lock; try again shortly rather than queue behind them.
      std::unique_lock<std::recursive_mutex> call(StoreCallLock(), std::try_to_lock);
      retry = !call.owns_lock();
      if (call.owns_lock() && open_ && Clock::now() - started_ >= DeleteGroupAge()) {
        try {
          CommitLocked();
        } catch (const StoreError&) {
          // Left to the next call on the connection, which reports it.
        }
      }
    }
    lk.lock();
  }
}

}  // namespace oa::store
