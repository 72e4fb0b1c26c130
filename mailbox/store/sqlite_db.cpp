#include "mailbox/store/sqlite_db.h"

#include <atomic>
#include <thread>
#include <utility>

namespace oa::store {

using namespace mailbox::ConstMAPI;

namespace {

thread_local CallBatch* tlsBatch = nullptr;

}  // namespace

int32_t MapSqliteError(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return MAPI_E_BUSY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return MAPI_E_CORRUPT_DATA;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return MAPI_E_NO_ACCESS;
    case SQLITE_FULL:
      return MAPI_E_NOT_ENOUGH_DISK;
    case SQLITE_NOMEM:
      return MAPI_E_NOT_ENOUGH_MEMORY;
    case SQLITE_CONSTRAINT:
      return MAPI_E_COLLISION;
    default:
      return MAPI_E_CALL_FAILED;
  }
}

Stmt::Stmt(Db& db, const std::string& sql) : db_(&db) {
  const int rc = sqlite3_prepare_v3(db.handle(), sql.c_str(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (rc != SQLITE_OK) db.Throw(rc, "prepare");
}

Stmt::~Stmt() {
  sqlite3_finalize(stmt_);
}

Stmt& Stmt::Bind(int i, int64_t v) {
  const int rc = sqlite3_bind_int64(stmt_, i, v);
  if (rc != SQLITE_OK) db_->Throw(rc);
  return *this;
}

Stmt& Stmt::Bind(int i, const std::string& v) {
  const int rc = sqlite3_bind_text64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) db_->Throw(rc);
  return *this;
}

Stmt& Stmt::Bind(int i, const std::vector<uint8_t>& v) {
  const int rc = sqlite3_bind_blob64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_->Throw(rc);
  return *this;
}

Stmt& Stmt::BindNull(int i) {
  const int rc = sqlite3_bind_null(stmt_, i);
  if (rc != SQLITE_OK) db_->Throw(rc);
  return *this;
}

bool Stmt::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  db_->Throw(rc);
}

void Stmt::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Stmt::IsNull(int col) const {
  return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}
int Stmt::ColumnType(int col) const {
  return sqlite3_column_type(stmt_, col);
}
int64_t Stmt::Int(int col) const {
  return sqlite3_column_int64(stmt_, col);
}

std::string Stmt::Text(int col) const {
  const auto* p = sqlite3_column_text(stmt_, col);
  const int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::vector<uint8_t> Stmt::Blob(int col) const {
  const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
  const int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

Db::Db(const std::string& path, int flags) : path_(path) {
  // Memory statistics cost a global mutex on every allocation; nothing here reads them.
  static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)configured;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    Fail(MapSqliteError(rc), "The store file " + path + " cannot be opened: " + msg);
  }
  sqlite3_extended_result_codes(db_, 1);
}

Db::~Db() {
  // The batch's changes are kept when the file closes under it.
  if (tlsBatch && tlsBatch->db_ == this) tlsBatch->Flush();
  literalCache_.clear();
  cache_.clear();
  sqlite3_close(db_);
}

void Db::Throw(int rc, const std::string& what) {
  std::string msg = sqlite3_errmsg(db_);
  if (msg.empty() || msg == "not an error") msg = sqlite3_errstr(rc);
  Fail(MapSqliteError(rc),
       "The store file " + path_ + " " + (what.empty() ? "failed" : what + " failed") + ": " + msg);
}

void Db::Exec(const std::string& sql) {
  char* err = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
  sqlite3_free(err);
  if (rc != SQLITE_OK) Throw(rc);
}

int64_t Db::QueryInt(const std::string& sql) {
  CachedStmt s = Cached(sql);
  return s->Step() ? s->Int(0) : 0;
}

CachedStmt Db::Cached(const std::string& sql) {
  auto it = cache_.find(sql);
  if (it == cache_.end()) it = cache_.emplace(sql, std::make_unique<Stmt>(*this, sql)).first;
  return CachedStmt(*it->second);
}

CachedStmt Db::Cached(const char* sql) {
  auto it = literalCache_.find(sql);
  if (it == literalCache_.end()) {
    const std::string text(sql);
    auto c = cache_.find(text);
    if (c == cache_.end()) c = cache_.emplace(text, std::make_unique<Stmt>(*this, text)).first;
    it = literalCache_.emplace(sql, c->second.get()).first;
  }
  return CachedStmt(*it->second);
}

void Db::SetBusyTimeout(int millis) {
  busyTimeoutMillis_ = millis;
  sqlite3_busy_handler(db_, &Db::OnBusy, this);
}

namespace {
std::atomic<uint64_t> busyWaits{0};
}  // namespace

uint64_t Db::BusyWaitsSoFar() {
  return busyWaits.load();
}

int Db::OnBusy(void* self, int attempt) {
  busyWaits.fetch_add(1);
  Db& db = *static_cast<Db*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) db.busySince_ = now;
  if (now - db.busySince_ >= std::chrono::milliseconds(db.busyTimeoutMillis_)) return 0;
  // Short polls first: another process's call holds the file for well under a millisecond,
  // and a writer that polls rarely would rarely find the file free between two of them.
  std::this_thread::sleep_for(attempt < 50 ? std::chrono::microseconds(100)
                                           : std::chrono::microseconds(1000));
  return 1;
}

Db::Stamp Db::ChangeStamp() {
  unsigned int version = 0;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return {version, sqlite3_total_changes64(db_)};
}

void Db::BeginImmediate() {
  Cached("BEGIN IMMEDIATE")->Run();
}

bool Db::JoinBatch() {
  CallBatch* b = tlsBatch;
  if (!b) return false;
  if (b->db_ == this && !sqlite3_get_autocommit(db_)) return true;
  // SQLite rolls a transaction back by itself after some errors: what the batch held is gone.
  if (b->db_ == this) b->lost_ = true;
  if (b->db_ != this) b->Flush();
  b->db_ = nullptr;
  const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Throw(rc, "begin");
  b->db_ = this;
  return true;
}

Txn::Txn(Db& db) : db_(db) {
  nested_ = db_.JoinBatch();
  if (nested_) {
    db_.Cached("SAVEPOINT call")->Run();
  } else {
    db_.BeginImmediate();
  }
}
Txn::~Txn() {
  if (!open_) return;
  sqlite3_exec(db_.handle(), nested_ ? "ROLLBACK TO call; RELEASE call" : "ROLLBACK", nullptr,
               nullptr, nullptr);
}

void Txn::Commit() {
  db_.Cached(nested_ ? "RELEASE call" : "COMMIT")->Run();
  open_ = false;
}

// A batch begun inside another leaves the changes to the outer one.
CallBatch::CallBatch() : active_(!tlsBatch) {
  if (active_) tlsBatch = this;
}

CallBatch::~CallBatch() {
  if (!active_) return;
  Commit();
  tlsBatch = nullptr;
}

void CallBatch::Flush() {
  if (Db* db = std::exchange(db_, nullptr); db && !sqlite3_get_autocommit(db->handle())) {
    if (sqlite3_exec(db->handle(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      sqlite3_exec(db->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
      lost_ = true;
    }
  } else if (db) {
    lost_ = true;
  }
}

bool CallBatch::Commit() {
  if (!active_) return true;
  Flush();
  return !std::exchange(lost_, false);
}

}  // namespace oa::store
