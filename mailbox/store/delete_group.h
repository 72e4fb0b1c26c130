// Message deletes that follow one another share one transaction, so that emptying a folder
// item by item does not pay a commit (write lock, log append) per item. Each delete is still
// atomic, and durable against a killed process once it returns: it is recorded in the
// connection's PendingJournal before it returns. The transaction commits
//   - after DeleteGroupAge() (2 ms), from a helper thread, so an idle caller never holds the
//     file;
//   - when the journal is full;
//   - before any other change on any connection of this process, before another connection
//     of this process reads, and at logoff.
// A writer of another process that waits for the file is let in before the next group starts.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "mailbox/store/pending_journal.h"

namespace oa::store {

class Db;

class DeleteGroup {
 public:
  DeleteGroup(Db& db, const std::string& storePath);
  DeleteGroup(const DeleteGroup&) = delete;
  DeleteGroup& operator=(const DeleteGroup&) = delete;
  // Commits what is open; a failed commit leaves the journal for the next opener.
  ~DeleteGroup();

  // False when no journal could be made: deletes must then commit one by one.
  bool usable() const { return journal_.open(); }
  // Deletes the message (MAPI_E_OBJECT_DELETED when it is not there).
  // folderHint: its folder when known, 0 when not.
  void Delete(int64_t messageId, int64_t folderHint = 0);
  // Makes every delete so far visible to other connections; throws StoreError on failure.
  void Commit();

 private:
  void Begin();
  void CommitLocked();
  // Starts over from the journal after a failure: what returned stays done.
  void RestartFromJournal();
  // Rolls back; the journal's records are to be applied again at the next Begin().
  void Abandon();
  void Closed();
  void Flusher();

  Db& db_;
  PendingJournal journal_;
  bool open_ = false;
  // A commit failed and was rolled back: the journal's records must be applied again.
  bool replay_ = false;
  std::chrono::steady_clock::time_point started_{};

  std::thread flusher_;
  std::mutex flusherMutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> pending_{false};
};

// Whether deletes are grouped on connections opened from now on (on by default).
void SetGroupDeletes(bool on);
bool GroupDeletes();
// How long a group may stay open; tests lengthen it to catch a group open.
void SetDeleteGroupAge(std::chrono::milliseconds age);
std::chrono::milliseconds DeleteGroupAge();

// Commits the open group of this process, unless it is `except`'s.
void CommitOpenDeleteGroup(const DeleteGroup* except = nullptr);

}  // namespace oa::store
