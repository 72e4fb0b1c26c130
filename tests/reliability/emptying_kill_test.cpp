// SIGKILL of oa-cleanup --no-window while it empties the renamed Handhelds folder item by item
// (a declared Folder.Delete fault sends it down the rename path), after varied numbers of
// deletes, each waited for in the store file itself: the file stays whole, the agent message is
// there exactly once, no item is there twice, and the next run finishes the job.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "tests/nowindow/run_fixture.h"

extern char** environ;

namespace oa::testing {
namespace {

// One number from the store file through a read-only connection of its own; -1 when unreadable.
int64_t Query(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  int64_t v = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return v;
}

std::string IntegrityCheck(const std::string& file) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

class KillWhileEmptying : public RunFixture {
 protected:
  // Starts the cleanup, waits until the old folder (key jdoe-hh) holds at most `left` items,
  // then kills it. False when the run ended first or never got there.
  bool RunAndKillAt(int64_t left) {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
    }
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<std::string> args = {OA_CLEANUP_BIN, "--no-window", "--log",     logFile,
                                     "--server",     "demo",        "--mailbox", "jdoe"};
    std::vector<char*> envp, argv;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    const std::string count = "SELECT item_count FROM folders WHERE key = 'jdoe-hh'";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool reached = false;
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
      if (::waitpid(pid, &status, WNOHANG) == pid) return false;  // ended by itself
      const int64_t n = Query(StoreFile(), count);
      if (n >= 0 && n <= left) {
        reached = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return reached && WIFSIGNALED(status);
  }
};

TEST_F(KillWhileEmptying, TheFileStaysWholeAndTheNextRunFinishes) {
  const int items = 4000;
  TempDir templates;
  const std::string model = templates / "model.oastore";
  ImportStore(Dump({MailboxStore({.alias = "jdoe", .items = items})},
                   {Fault("Folder.Delete", "jdoe-hh", 1)}),
              model);
  for (int64_t deletes : {1, 50, 777, 2500}) {
    const std::string round = "killed after " + std::to_string(deletes) + " deletes";
    std::filesystem::remove(StoreFile());
    CopyStoreFiles(model, StoreFile());
    ASSERT_TRUE(RunAndKillAt(items - deletes)) << round;

    EXPECT_EQ(IntegrityCheck(StoreFile()), "ok") << round;
    EXPECT_EQ(Query(StoreFile(), "SELECT count(*) FROM messages WHERE class = 'ondavel.Agent'"), 1)
        << round;
    // Every filler item at most once, and none where it was not.
    EXPECT_EQ(Query(StoreFile(),
                    "SELECT count(*) FROM (SELECT subject FROM messages WHERE class = 'IPM.Note' "
                    "GROUP BY subject HAVING count(*) > 1)"),
              0)
        << round;
    EXPECT_LE(Query(StoreFile(), "SELECT item_count FROM folders WHERE key = 'jdoe-hh'"),
              items - deletes)
        << round;
    EXPECT_EQ(Query(StoreFile(),
                    "SELECT count(*) FROM folders f WHERE item_count <> "
                    "(SELECT count(*) FROM messages m WHERE m.folder_id = f.id)"),
              0)
        << round;

    ChildResult next = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
    EXPECT_EQ(next.status, 0) << round << "\n" << next.out << next.err;
    EXPECT_EQ(IntegrityCheck(StoreFile()), "ok") << round;
    const nlohmann::json after = Export();
    EXPECT_EQ(Query(StoreFile(), "SELECT count(*) FROM messages WHERE class = 'ondavel.Agent'"), 1)
        << round;
    const std::string hh = HandheldsID(after, "jdoe");
    EXPECT_FALSE(hh.empty()) << round;
    EXPECT_EQ(Query(StoreFile(),
                    "SELECT count(*) FROM folders WHERE name = 'Handhelds' AND "
                    "item_count = 0"),
              1)
        << round;
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace oa::testing
