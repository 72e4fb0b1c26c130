// A second process writes to the store file during a large cleanup, as the agent does: it adds
// messages to the agent folder and to the current Handhelds folder and reads them back. The
// cleanup completes, every change the writer committed is kept (except those in the old folder,
// which goes with it), and neither side fails on a locked database.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "tests/nowindow/run_fixture.h"
#include "tests/reliability/figures.h"

namespace oa::testing {
namespace {

constexpr int kBusyMillis = 30000;

int64_t FolderId(sqlite3* db, const std::string& name) {
  sqlite3_stmt* st = nullptr;
  int64_t id = -1;
  if (sqlite3_prepare_v2(db, "SELECT max(id) FROM folders WHERE name = ?1", -1, &st, nullptr) ==
      SQLITE_OK) {
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
      id = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  return id;
}

// One message added in its own transaction; its row ID, or -1 on any failure.
int64_t AddMessage(sqlite3* db, int64_t folder, const std::string& subject) {
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return -1;
  sqlite3_stmt* st = nullptr;
  int64_t id = -1;
  if (sqlite3_prepare_v2(db,
                         "INSERT INTO messages(folder_id, class, subject, created) "
                         "VALUES (?1, 'IPM.Note', ?2, strftime('%s','now'))",
                         -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(st, 1, folder);
    sqlite3_bind_text(st, 2, subject.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_DONE) id = sqlite3_last_insert_rowid(db);
  }
  sqlite3_finalize(st);
  const std::string count =
      "UPDATE folders SET item_count = item_count + 1 WHERE id = " + std::to_string(folder);
  if (id < 0 || sqlite3_exec(db, count.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return -1;
  }
  return id;
}

bool HasMessage(sqlite3* db, int64_t id, const std::string& subject) {
  sqlite3_stmt* st = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db, "SELECT subject FROM messages WHERE id = ?1", -1, &st, nullptr) ==
      SQLITE_OK) {
    sqlite3_bind_int64(st, 1, id);
    found = sqlite3_step(st) == SQLITE_ROW &&
            subject == reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  return found;
}

// The writer process: until `stopFile` exists, adds and reads back messages; each committed
// one is recorded in `record` as "message-id folder-id subject"; failures as "FAIL reason".
[[noreturn]] void Writer(const std::string& storeFile, const std::string& stopFile,
                         const std::string& record) {
  sqlite3* db = nullptr;
  std::ofstream out(record);
  if (sqlite3_open(storeFile.c_str(), &db) != SQLITE_OK) {
    out << "FAIL open\n";
    ::_exit(1);
  }
  sqlite3_busy_timeout(db, kBusyMillis);
  for (int n = 0; !std::filesystem::exists(stopFile); ++n) {
    const std::string folderName = n % 2 ? "Handhelds" : "ondavelAgentInfo";
    const int64_t folder = FolderId(db, folderName);
    if (folder < 0) {
      // Between the rename and the new folder no folder is called "Handhelds": the agent
      // finds none for a moment and tries again, as this writer does.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    const std::string subject = "writer " + std::to_string(n);
    const int64_t id = AddMessage(db, folder, subject);
    if (id < 0) {
      out << "FAIL " << folderName << ' ' << sqlite3_errmsg(db) << std::endl;
      continue;
    }
    if (!HasMessage(db, id, subject)) out << "FAIL read " << id << std::endl;
    out << id << ' ' << folder << ' ' << subject << std::endl;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  sqlite3_close(db);
  ::_exit(0);
}

class ConcurrentWriter : public RunFixture {};

TEST_F(ConcurrentWriter, CleanupAndWriterBothFinish) {
  const int items = Reduced() ? 10000 : 100000;
  // The rename path: the old folder is emptied item by item while the writer works.
  Import(Dump({MailboxStore({.alias = "jdoe", .items = items})},
              {Fault("Folder.Delete", "jdoe-hh", 1)}));
  const std::string stopFile = dir / "stop";
  const std::string record = dir / "writer.txt";

  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) Writer(StoreFile(), stopFile, record);

  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  WriteFile(stopFile, "");
  int status = 0;
  ::waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("locked"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(StoreFile().c_str(), &db), SQLITE_OK);
  std::set<int64_t> folders;
  {
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT id FROM folders", -1, &st, nullptr), SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW) folders.insert(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
  }
  std::ifstream in(record);
  std::string line;
  long kept = 0, withOldFolder = 0, failures = 0;
  while (std::getline(in, line)) {
    if (line.rfind("FAIL", 0) == 0) {
      ++failures;
      ADD_FAILURE() << "writer: " << line;
      continue;
    }
    std::istringstream fields(line);
    int64_t id = 0, folder = 0;
    std::string word, number;
    fields >> id >> folder >> word >> number;
    if (!folders.count(folder)) {
      ++withOldFolder;
      continue;
    }
    EXPECT_TRUE(HasMessage(db, id, word + " " + number)) << line;
    ++kept;
  }
  sqlite3_close(db);
  EXPECT_GT(kept, 0);
  EXPECT_EQ(failures, 0);
  std::cout << kept << " writes kept, " << withOldFolder << " went with the old folder\n";
  AddFigure("concurrent writes kept", kept);
}

}  // namespace
}  // namespace oa::testing
