#include "mailbox/store/schema.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "base/platform.h"
#include "base/text_fold.h"
#include "mailbox/store/sqlite_db.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE stores(
  id INTEGER PRIMARY KEY,
  seq INTEGER NOT NULL,
  guid BLOB NOT NULL UNIQUE,
  kind TEXT NOT NULL CHECK (kind IN ('mailbox', 'public')),
  key TEXT UNIQUE,
  display_name TEXT NOT NULL,
  alias TEXT,
  address TEXT,
  root_id INTEGER NOT NULL,
  subtree_id INTEGER NOT NULL
);
CREATE TABLE folders(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  store_id INTEGER NOT NULL,
  parent_id INTEGER,
  name TEXT NOT NULL,
  name_fold TEXT NOT NULL,
  key TEXT UNIQUE,
  item_count INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX folders_by_name ON folders(parent_id, name_fold);
CREATE INDEX folders_by_parent ON folders(parent_id);
CREATE TABLE messages(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  folder_id INTEGER NOT NULL,
  key TEXT,  -- unique by import; no index, so that deletes touch fewer pages
  class TEXT NOT NULL,
  subject TEXT NOT NULL,
  created INTEGER NOT NULL
);
CREATE INDEX messages_by_folder ON messages(folder_id);
CREATE TABLE props(
  kind INTEGER NOT NULL,
  owner INTEGER NOT NULL,
  tag INTEGER NOT NULL,
  value,
  PRIMARY KEY (kind, owner, tag)
) WITHOUT ROWID;
CREATE TABLE named_props(
  store_id INTEGER NOT NULL,
  guid TEXT NOT NULL,
  name TEXT NOT NULL,
  prop_id INTEGER NOT NULL,
  PRIMARY KEY (store_id, guid, name),
  UNIQUE (store_id, prop_id)
) WITHOUT ROWID;
CREATE TABLE faults(
  id INTEGER PRIMARY KEY,
  op TEXT NOT NULL,
  target_kind INTEGER,
  target_id INTEGER,
  error INTEGER,
  description TEXT,
  effect TEXT NOT NULL,
  result INTEGER,
  after INTEGER NOT NULL DEFAULT 0,
  times INTEGER,
  seen INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX faults_by_op ON faults(op);
)sql";

namespace fs = std::filesystem;

uint32_t Be(const unsigned char* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// What the file itself tells before SQLite touches it.
void CheckFileBeforeOpen(const std::string& path, bool readOnly) {
  std::error_code ec;
  const fs::file_status st = fs::status(PathFromUtf8(path), ec);
  if (!fs::exists(st)) {
    if (ec == std::errc::permission_denied) {
      Fail(MAPI_E_NO_ACCESS, "The store file " + path + " cannot be read");
    }
    Fail(MAPI_E_NETWORK_ERROR, "There is no store file " + path);
  }
  if (!fs::is_regular_file(st)) Fail(MAPI_E_CORRUPT_DATA, path + " is not a store file");
  if (!MayAccessFile(path, false)) {
    Fail(MAPI_E_NO_ACCESS, "The store file " + path + " cannot be read: permission denied");
  }
  if (!readOnly && !MayAccessFile(path, true)) {
    Fail(MAPI_E_NO_ACCESS, "The store file " + path + " is read-only");
  }
  const uintmax_t size = fs::file_size(PathFromUtf8(path), ec);
  if (ec) Fail(MAPI_E_NO_ACCESS, "The store file " + path + " cannot be read");
  if (size == 0) Fail(MAPI_E_CORRUPT_DATA, "The store file " + path + " is empty");
  unsigned char header[100];
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) Fail(MAPI_E_NO_ACCESS, "The store file " + path + " cannot be read");
  in.read(reinterpret_cast<char*>(header), sizeof header);
  if (in.gcount() != static_cast<std::streamsize>(sizeof header) ||
      std::memcmp(header, "SQLite format 3", 16) != 0) {
    Fail(MAPI_E_CORRUPT_DATA, path + " is not a store file");
  }
  uint32_t pageSize = Be(header + 16, 2);
  if (pageSize == 1) pageSize = 65536;
  const uint32_t pages = Be(header + 28, 4);
  // With a non-empty write-ahead log the main file may lag behind its header.
  const uintmax_t wal = fs::file_size(PathFromUtf8(path + "-wal"), ec);
  const bool walInUse = !ec && wal > 0;
  if (!walInUse && pages > 0 && size < static_cast<uintmax_t>(pages) * pageSize) {
    Fail(MAPI_E_CORRUPT_DATA, "The store file " + path + " is truncated");
  }
}

// Earlier versions stored folder names lower-cased by the C library, which differs from case
// folding for a few letters (final sigma, micro sign, long s, ...): a lookup by name would miss
// such a folder. Stored folds that differ are written again; a file already right is only read.
void RefoldNames(Db& db) {
  std::vector<std::pair<int64_t, std::string>> stale;
  {
    Stmt s(db, "SELECT id, name, name_fold FROM folders");
    while (s.Step()) {
      std::string fold = text::Fold(s.Text(1));
      if (fold != s.Text(2)) stale.emplace_back(s.Int(0), std::move(fold));
    }
  }
  if (stale.empty()) return;
  Txn txn(db);
  for (const auto& [id, fold] : stale) {
    db.Cached("UPDATE folders SET name_fold = ?2 WHERE id = ?1")->Bind(1, id).Bind(2, fold).Run();
  }
  txn.Commit();
}

}  // namespace

namespace {

// The file as an SQLite URI that reads it as immutable (no locks, no -shm).
std::string ImmutableUri(const std::string& path) {
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      uri += hex;
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

std::unique_ptr<Db> OpenStoreFile(const std::string& path, bool readOnly,
                                  const StoreFileOptions& options) {
  CheckFileBeforeOpen(path, readOnly);
  // A reader that may write tidies the log away when it closes; a read-only one cannot.
  const bool writable = MayAccessFile(path, true);
  // A store on read-only media (or in a directory the user may not write) cannot be read the
  // usual way: SQLite wants to make its shared-memory file beside it. With no log beside it
  // nobody can be changing the file, so it is read as immutable.
  std::error_code ec;
  const fs::path file = PathFromUtf8(path);
  const bool immutable =
      readOnly && !writable && !MayAccessFile(Utf8FromPath(file.parent_path()), true) &&
      !fs::exists(PathFromUtf8(path + "-wal"), ec) && !fs::exists(PathFromUtf8(path + "-shm"), ec);
  auto db =
      immutable
          ? std::make_unique<Db>(ImmutableUri(Utf8FromPath(fs::absolute(file, ec))),
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX)
          : std::make_unique<Db>(path, (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) |
                                           SQLITE_OPEN_NOMUTEX);
  db->SetBusyTimeout(options.busyTimeoutMs);
  try {
    if (db->QueryInt("PRAGMA application_id") != kApplicationId) {
      Fail(MAPI_E_CORRUPT_DATA, path + " is not a store file");
    }
    const int64_t version = db->QueryInt("PRAGMA user_version");
    if (version > kFormatVersion) {
      Fail(MAPI_E_VERSION, "The store file " + path + " has format " + std::to_string(version) +
                               ", newer than this program's " + std::to_string(kFormatVersion));
    }
    if (version < 1) Fail(MAPI_E_CORRUPT_DATA, path + " is not a store file");
    db->QueryInt("SELECT count(*) FROM stores");
    db->QueryInt("SELECT max(id) FROM folders");
  } catch (const StoreError& e) {
    if (e.hr() == MAPI_E_BUSY) {
      Fail(MAPI_E_BUSY, "The store file " + path + " is locked by another program");
    }
    if (e.hr() == MAPI_E_CALL_FAILED) Fail(MAPI_E_CORRUPT_DATA, e.what());
    throw;
  }
  // Durable against the death of a process at any moment; a power cut may lose the last
  // calls but never leaves a broken file (WAL).
  if (!readOnly) {
    db->Exec(options.syncEveryCommit ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
    // Checkpoints (each with an fsync) every 16 MB of log rather than every 4 MB.
    db->Exec("PRAGMA wal_autocheckpoint=4000");
    RefoldNames(*db);
  }
  return db;
}

std::unique_ptr<Db> CreateStoreFile(const std::string& path) {
  // "x": never over an existing file. Only its owner may read it from the start, and SQLite
  // gives its journal and log files the mode of the store file.
  std::FILE* f = OpenOwnerOnlyFile(path, "wbx");
  if (!f) {
    Fail(MAPI_E_NO_ACCESS,
         "The store file " + path + " cannot be created: " + std::strerror(errno));
  }
  std::fclose(f);
  std::error_code ec;
  fs::permissions(PathFromUtf8(path), fs::perms::owner_read | fs::perms::owner_write,
                  fs::perm_options::replace, ec);
  auto db = std::make_unique<Db>(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  sqlite3_busy_timeout(db->handle(), kDefaultBusyTimeoutMs);
  db->Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  db->Exec("PRAGMA application_id=" + std::to_string(kApplicationId) +
           "; PRAGMA user_version=" + std::to_string(kFormatVersion) + ";");
  db->Exec(kSchema);
  return db;
}

void FinishBulkLoad(Db& db) {
  db.Exec("PRAGMA synchronous=FULL");
  db.Exec("PRAGMA journal_mode=WAL");
  // Leaves a file that needs no log beside it.
  db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace oa::store
