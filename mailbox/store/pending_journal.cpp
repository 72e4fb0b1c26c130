#include "mailbox/store/pending_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "mailbox/store/objects.h"
#include "mailbox/store/schema.h"
#include "mailbox/store/sqlite_db.h"

namespace oa::store {

namespace {

constexpr char kMagic[8] = {'O', 'A', 'P', 'E', 'N', 'D', '1', '\n'};
constexpr size_t kHeaderSize = 64;
constexpr size_t kIdentityAt = 16;

// Which file the records are for: a store replaced by an import (or deleted and made anew)
// is another file, whose message numbers start over, and must not get them.
struct FileIdentity {
  uint64_t dev = 0;
  uint64_t ino = 0;
  int64_t birthSec = 0;
  uint32_t birthNsec = 0;
  uint32_t pad = 0;
  bool operator==(const FileIdentity&) const = default;
};
static_assert(sizeof(FileIdentity) == 32);

bool IdentityOf(const std::string& path, FileIdentity* id) {
  struct statx st {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &st) != 0) return false;
  *id = FileIdentity{};
  id->dev = (static_cast<uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
  id->ino = st.stx_ino;
  if (st.stx_mask & STATX_BTIME) {
    id->birthSec = st.stx_btime.tv_sec;
    id->birthNsec = st.stx_btime.tv_nsec;
  }
  return true;
}

struct Record {
  uint64_t epoch;
  int64_t id;
  uint32_t seq;
  uint32_t check;
};
static_assert(sizeof(Record) == 24);

constexpr size_t kFileSize = kHeaderSize + sizeof(Record) * PendingJournal::kCapacity;

uint32_t Checksum(uint64_t epoch, int64_t id, uint32_t seq) {
  // FNV-1a over the fields: a record cut short by a kill does not pass.
  uint32_t h = 2166136261u;
  auto mix = [&h](const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 16777619u;
  };
  mix(&epoch, sizeof epoch);
  mix(&id, sizeof id);
  mix(&seq, sizeof seq);
  return h ^ 0x5a5a5a5au;
}

std::vector<int64_t> ParseRecords(const unsigned char* data, size_t size,
                                  const FileIdentity* expected) {
  std::vector<int64_t> ids;
  if (size < kHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) return ids;
  if (expected) {
    FileIdentity id;
    std::memcpy(&id, data + kIdentityAt, sizeof id);
    if (!(id == *expected)) return ids;
  }
  uint64_t epoch = 0;
  std::memcpy(&epoch, data + 8, sizeof epoch);
  for (uint32_t i = 0; kHeaderSize + (i + 1) * sizeof(Record) <= size; ++i) {
    Record r{};
    std::memcpy(&r, data + kHeaderSize + i * sizeof(Record), sizeof r);
    if (r.epoch != epoch || r.seq != i || r.check != Checksum(r.epoch, r.id, r.seq)) break;
    ids.push_back(r.id);
  }
  return ids;
}

std::string JournalPrefix(const std::string& storePath) {
  return std::filesystem::path(storePath).filename().string() + "-pending.";
}

}  // namespace

PendingJournal::PendingJournal(const std::string& storePath) {
  std::error_code ec;
  const std::filesystem::path store = std::filesystem::absolute(storePath, ec);
  FileIdentity identity;
  if (ec || !IdentityOf(store.string(), &identity)) return;
  static std::atomic<int> serial{0};
  for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
    path_ = (store.parent_path() / (JournalPrefix(storePath) + std::to_string(::getpid()) + "." +
                                    std::to_string(++serial)))
                .string();
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno != EEXIST) return;
  }
  if (fd_ < 0) return;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd_, kFileSize) != 0) {
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    return;
  }
  void* m = ::mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (m == MAP_FAILED) {
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    return;
  }
  map_ = static_cast<unsigned char*>(m);
  std::memcpy(map_ + 8, &epoch_, sizeof epoch_);
  std::memcpy(map_ + kIdentityAt, &identity, sizeof identity);
  std::atomic_signal_fence(std::memory_order_release);
  std::memcpy(map_, kMagic, sizeof kMagic);
}

PendingJournal::~PendingJournal() {
  if (map_) ::munmap(map_, kFileSize);
  if (fd_ >= 0) {
    // Records still standing are replayed by the next opener; only an empty journal goes.
    if (count_ == 0) ::unlink(path_.c_str());
    ::close(fd_);
  }
}

void PendingJournal::Append(int64_t messageId) {
  if (!map_ || count_ >= kCapacity) return;
  Record r{epoch_, messageId, static_cast<uint32_t>(count_), 0};
  r.check = Checksum(r.epoch, r.id, r.seq);
  unsigned char* at = map_ + kHeaderSize + count_ * sizeof(Record);
  std::memcpy(at, &r, offsetof(Record, check));
  // The check word last, so a record is whole before it counts.
  std::atomic_signal_fence(std::memory_order_release);
  std::memcpy(at + offsetof(Record, check), &r.check, sizeof r.check);
  ++count_;
}

void PendingJournal::Reset() {
  if (!map_) return;
  ++epoch_;
  std::memcpy(map_ + 8, &epoch_, sizeof epoch_);
  count_ = 0;
}

std::vector<int64_t> PendingJournal::Records() const {
  return map_ ? ParseRecords(map_, kFileSize, nullptr) : std::vector<int64_t>{};
}

int64_t ApplyPendingDeletes(Db& db, const std::vector<int64_t>& messageIds) {
  int64_t deleted = 0;
  for (int64_t id : messageIds) deleted += DeleteMessageRow(db, id) ? 1 : 0;
  return deleted;
}

int64_t RecoverPendingJournals(Db& db, const std::string& storePath) {
  std::error_code ec;
  const std::filesystem::path store = std::filesystem::absolute(storePath, ec);
  FileIdentity identity;
  if (ec || !IdentityOf(store.string(), &identity)) return 0;
  const std::string prefix = JournalPrefix(storePath);
  int64_t deleted = 0;
  for (const auto& entry : std::filesystem::directory_iterator(store.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const int fd = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {  // its owner is alive
      ::close(fd);
      continue;
    }
    std::vector<unsigned char> data(kFileSize);
    const ssize_t n = ::pread(fd, data.data(), data.size(), 0);
    const std::vector<int64_t> ids =
        n > 0 ? ParseRecords(data.data(), static_cast<size_t>(n), &identity)
              : std::vector<int64_t>{};
    try {
      if (!ids.empty()) {
        Txn txn(db);
        deleted += ApplyPendingDeletes(db, ids);
        txn.Commit();
      }
      ::unlink(entry.path().c_str());
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
  }
  return deleted;
}

}  // namespace oa::store
