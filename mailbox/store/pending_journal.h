// A connection's record of message deletes that have returned but whose transaction has not
// committed yet. The file is mapped into memory, so a record is in the kernel's hands the moment
// it is written: a killed process loses none. The owner holds an exclusive flock on the file;
// whoever opens the store next and can take that lock replays the records (each is "delete
// message N if it is still there", so replaying one twice does no harm: numbers are never
// reused).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oa::store {

class Db;

class PendingJournal {
 public:
  // How many records fit; the owner commits before it is full.
  static constexpr int kCapacity = 2048;

  // A new journal beside the store file, or one that is not open() when the directory does
  // not allow it (the caller then commits every call).
  explicit PendingJournal(const std::string& storePath);
  PendingJournal(const PendingJournal&) = delete;
  PendingJournal& operator=(const PendingJournal&) = delete;
  ~PendingJournal();

  bool open() const { return map_ != nullptr; }
  int size() const { return count_; }
  void Append(int64_t messageId);
  // The records so far are committed: they no longer count.
  void Reset();
  std::vector<int64_t> Records() const;

 private:
  std::string path_;
  int fd_ = -1;
  unsigned char* map_ = nullptr;
  uint64_t epoch_ = 1;
  int count_ = 0;
};

// Deletes what dead owners' journals beside the store file hold, then removes those files.
// Journals of live owners are left alone; those made for an earlier file of that name (one
// an import replaced) are removed unread. Returns how many messages were deleted.
int64_t RecoverPendingJournals(Db& db, const std::string& storePath);

// Deletes each message that is still there, with its properties, keeping folder counts; in
// the caller's transaction. Returns how many were there.
int64_t ApplyPendingDeletes(Db& db, const std::vector<int64_t>& messageIds);

}  // namespace oa::store
