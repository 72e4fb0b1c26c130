// Thin RAII wrappers over the SQLite C API that throw StoreError on failure.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mailbox/store/store_error.h"

namespace oa::store {

class Db;

class Stmt {
 public:
  Stmt(Db& db, const std::string& sql);
  Stmt(Stmt&& o) noexcept : db_(o.db_), stmt_(o.stmt_) { o.stmt_ = nullptr; }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt();

  Stmt& Bind(int i, int64_t v);
  Stmt& Bind(int i, const std::string& v);
  Stmt& Bind(int i, const std::vector<uint8_t>& v);
  Stmt& BindNull(int i);
  Stmt& Bind(int i, const std::optional<int64_t>& v) { return v ? Bind(i, *v) : BindNull(i); }
  // True while a row is there.
  bool Step();
  void Run() {
    Step();
    Reset();
  }
  void Reset();

  bool IsNull(int col) const;
  int64_t Int(int col) const;
  std::string Text(int col) const;
  std::vector<uint8_t> Blob(int col) const;
  std::optional<int64_t> OptInt(int col) const {
    return IsNull(col) ? std::nullopt : std::optional<int64_t>(Int(col));
  }
  int ColumnType(int col) const;

 private:
  Db* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A cached prepared statement, reset when the handle goes.
class CachedStmt {
 public:
  explicit CachedStmt(Stmt& s) : s_(&s) {}
  CachedStmt(const CachedStmt&) = delete;
  ~CachedStmt() { s_->Reset(); }
  Stmt* operator->() { return s_; }
  Stmt& operator*() { return *s_; }

 private:
  Stmt* s_;
};

class Db {
 public:
  // Opens an existing file (flags of sqlite3_open_v2); the path names the file in messages.
  Db(const std::string& path, int flags);
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  ~Db();

  sqlite3* handle() { return db_; }
  const std::string& path() const { return path_; }
  void Exec(const std::string& sql);
  int64_t QueryInt(const std::string& sql);
  CachedStmt Cached(const std::string& sql);
  // A statement text with static storage (a literal): looked up by its address.
  CachedStmt Cached(const char* sql);

  // Waits for a busy file up to `millis`, polling often.
  void SetBusyTimeout(int millis);
  // How many times any connection of this process has found its file busy and waited: lets a
  // caller (a test, a diagnostic) see that a call is waiting for another writer.
  static uint64_t BusyWaitsSoFar();
  void BeginImmediate();
  int64_t LastInsertRowid() { return sqlite3_last_insert_rowid(db_); }
  int Changes() { return sqlite3_changes(db_); }
  // Changes whenever the file's content has, by this connection or another one, as the last
  // statement run saw it.
  using Stamp = std::pair<unsigned int, sqlite3_int64>;
  Stamp ChangeStamp();
  [[noreturn]] void Throw(int rc, const std::string& what = "");
  // Whether the changes of a Txn begun now join the thread's CallBatch (which then holds a
  // transaction on this file).
  bool JoinBatch();

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, std::unique_ptr<Stmt>> cache_;
  std::unordered_map<const char*, Stmt*> literalCache_;

  static int OnBusy(void* self, int attempt);
  int busyTimeoutMillis_ = 0;
  std::chrono::steady_clock::time_point busySince_{};
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when left without Commit(). Inside a CallBatch, a
// savepoint of the batch's transaction instead, so that a failed call still undoes only its own
// changes.
class Txn {
 public:
  explicit Txn(Db& db);
  Txn(const Txn&) = delete;
  ~Txn();
  void Commit();

 private:
  Db& db_;
  bool nested_ = false;
  bool open_ = true;
};

// While one lives, the changes made on its thread share one transaction, committed when it
// ends: a server that answers one request for many items writes the file once, not once an
// item. One file at a time: a change to another file commits what the batch holds first.
class CallBatch {
 public:
  CallBatch();
  CallBatch(const CallBatch&) = delete;
  CallBatch& operator=(const CallBatch&) = delete;
  ~CallBatch();
  // Commits what the batch holds; false when some of it could not be committed and is lost.
  bool Commit();

 private:
  friend class Db;
  // Commits the transaction held, noting a failure.
  void Flush();
  Db* db_ = nullptr;
  bool active_;
  bool lost_ = false;
};

// The MAPI error for an SQLite result code.
int32_t MapSqliteError(int rc);

}  // namespace oa::store
