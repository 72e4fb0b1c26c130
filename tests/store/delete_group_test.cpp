// Message deletes that share a transaction: durable against a kill once they return, seen at
// once by every other connection of the process, committed while the caller is idle, and no
// obstacle to another process that wants to write.
#include "mailbox/store/delete_group.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "mailbox/store/pending_journal.h"
#include "mailbox/store/sqlite_db.h"
#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

using namespace std::chrono_literals;

class DeleteGroupTest : public StoreTest {
 protected:
  void TearDown() override {
    SetDeleteGroupAge(2ms);
    StoreTest::TearDown();
  }

  void ImportItems(int items) {
    Json top = {{"name", "Top of Information Store"},
                {"ipmRoot", true},
                {"folders", Json::array({{{"name", "Handhelds"}, {"items", items}}})}};
    Import(Dump(Json::array({Mailbox("jdoe", Json::array({top}))})));
  }

  static std::shared_ptr<mb::RDOItems> Items(mb::RDOSession& s) {
    return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items();
  }

  // Straight from the file, past the store's own code: messages rows, and folders whose
  // counter disagrees with their rows.
  struct Raw {
    int64_t messages = -1;
    int64_t badCounters = -1;
    bool canWrite = false;
  };
  Raw ReadRaw() {
    Raw r;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return r;
    }
    auto one = [&](const char* sql) {
      sqlite3_stmt* st = nullptr;
      int64_t v = -1;
      if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
          sqlite3_step(st) == SQLITE_ROW) {
        v = sqlite3_column_int64(st, 0);
      }
      sqlite3_finalize(st);
      return v;
    };
    r.messages = one("SELECT count(*) FROM messages");
    r.badCounters =
        one("SELECT count(*) FROM folders f WHERE item_count <> "
            "(SELECT count(*) FROM messages m WHERE m.folder_id = f.id)");
    r.canWrite =
        sqlite3_exec(db, "BEGIN IMMEDIATE; ROLLBACK;", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return r;
  }

  // A child process deletes that many items, then is killed with its group still open.
  bool KillWhileGroupOpen(int deletes) {
    SetDeleteGroupAge(std::chrono::hours(1));
    int ready[2];
    if (::pipe(ready) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
      auto s = NewEmbeddedSession();
      s->LogonExchangeMailbox("jdoe", path);
      auto items = Items(*s);
      for (int i = 0; i < deletes; ++i) items->GetFirst()->Delete(C::dfHardDelete);
      const char done = mb::Err().Pending() ? 'e' : 'd';
      (void)!::write(ready[1], &done, 1);
      ::pause();
      ::_exit(0);
    }
    char done = 0;
    const bool read = ::read(ready[0], &done, 1) == 1;
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    SetDeleteGroupAge(2ms);
    return read && done == 'd';
  }

  int JournalFiles() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      n += e.path().filename().string().find("-pending.") != std::string::npos;
    }
    return n;
  }
};

TEST_F(DeleteGroupTest, DeletesThatReturnedSurviveAKillBeforeTheirCommit) {
  ImportItems(500);
  ASSERT_TRUE(KillWhileGroupOpen(300));

  // The file itself still holds the old state, whole: the deletes wait in the journal.
  Raw before = ReadRaw();
  EXPECT_EQ(before.messages, 500);
  EXPECT_EQ(before.badCounters, 0);
  EXPECT_EQ(JournalFiles(), 1);

  // The next opener applies them.
  auto s = Logon();
  EXPECT_EQ(Items(*s)->Count(), 200);
  s->Logoff();
  Raw after = ReadRaw();
  EXPECT_EQ(after.messages, 200);
  EXPECT_EQ(after.badCounters, 0);
  EXPECT_EQ(JournalFiles(), 0);
}

TEST_F(DeleteGroupTest, AJournalIsNotAppliedToTheFileAnImportPutInPlace) {
  ImportItems(500);
  ASSERT_TRUE(KillWhileGroupOpen(300));
  ASSERT_EQ(JournalFiles(), 1);
  // The same dump again: a new file whose message numbers start over.
  ImportItems(500);
  auto s = Logon();
  EXPECT_EQ(Items(*s)->Count(), 500);
  s->Logoff();
  EXPECT_EQ(ReadRaw().messages, 500);
  EXPECT_EQ(JournalFiles(), 0);
}

TEST_F(DeleteGroupTest, OtherConnectionsOfTheProcessSeeDeletesAtOnce) {
  ImportItems(20);
  SetDeleteGroupAge(std::chrono::hours(1));
  auto a = Logon();
  auto items = Items(*a);
  for (int i = 0; i < 5; ++i) items->GetFirst()->Delete(C::dfHardDelete);
  EXPECT_EQ(items->Count(), 15);
  // Past the store's code the group is still open: nothing is committed yet.
  EXPECT_EQ(ReadRaw().messages, 20);

  auto b = Logon();  // a new connection: commits the group first
  EXPECT_EQ(Items(*b)->Count(), 15);
  items->GetFirst()->Delete(C::dfHardDelete);
  EXPECT_EQ(Items(*b)->Count(), 14);  // an open connection, too
  EXPECT_EQ(ExportJson()["stores"][0]["root"]["folders"][0]["folders"][0]["count"], 14);
  // A change on the deleting connection itself commits first as well.
  items->GetFirst()->Delete(C::dfHardDelete);
  auto top = a->Stores()->DefaultStore()->IPMRootFolder();
  ASSERT_TRUE(top->Folders()->Add("Other")) << mb::Err().Description();
  EXPECT_EQ(ReadRaw().messages, 13);
}

TEST_F(DeleteGroupTest, AnIdleCallerDoesNotHoldTheFile) {
  ImportItems(10);
  auto s = Logon();
  auto items = Items(*s);
  items->GetFirst()->Delete(C::dfHardDelete);
  // Nothing more is called: the helper thread commits and lets go of the write lock.
  Raw r;
  for (int i = 0; i < 200; ++i) {
    r = ReadRaw();
    if (r.messages == 9 && r.canWrite) break;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(r.messages, 9);
  EXPECT_TRUE(r.canWrite);
}

TEST_F(DeleteGroupTest, AWriterOfAnotherProcessGetsInWhileDeletesRun) {
  ImportItems(200000);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto s = NewEmbeddedSession();
    s->LogonExchangeMailbox("jdoe", path);
    auto items = Items(*s);
    const char go = 'g';
    (void)!::write(ready[1], &go, 1);
    while (auto item = items->GetFirst()) item->Delete(C::dfHardDelete);
    ::_exit(items->Count() == 0 ? 0 : 1);
  }
  char go = 0;
  ASSERT_EQ(::read(ready[0], &go, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  // Each change waits for the file; none may time out while the other process deletes.
  SetBusyTimeoutMillis(2000);
  auto s = Logon();
  auto top = s->Stores()->DefaultStore()->IPMRootFolder();
  int made = 0;
  for (int i = 0; i < 20; ++i) {
    auto f = top->Folders()->Add("Agent data " + std::to_string(i));
    EXPECT_TRUE(f) << i << ": " << mb::Err().Description();
    made += f != nullptr;
  }
  // The writes above overlapped the deletes, or the test proved nothing.
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0);
  ::waitpid(child, &status, 0);
  SetBusyTimeoutMillis(5000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(made, 20);
  EXPECT_EQ(top->Folders()->Count(), 21);
  EXPECT_EQ(ReadRaw().badCounters, 0);
}

TEST_F(DeleteGroupTest, JournalsOfLiveOwnersAreLeftAndReplaysAreHarmless) {
  ImportItems(6);
  std::vector<int64_t> ids;
  {
    auto db = OpenStoreFile(path);
    CachedStmt st = db->Cached("SELECT id FROM messages ORDER BY id");
    while (st->Step()) ids.push_back(st->Int(0));
  }
  ASSERT_EQ(ids.size(), 6u);
  {
    // A journal this process still holds is somebody's live work: not replayed.
    PendingJournal live(path);
    ASSERT_TRUE(live.open());
    live.Append(ids[0]);
    auto db = OpenStoreFile(path);
    EXPECT_EQ(RecoverPendingJournals(*db, path), 0);
    EXPECT_EQ(live.Records(), std::vector<int64_t>{ids[0]});
    // After a commit its records no longer count.
    live.Reset();
    EXPECT_TRUE(live.Records().empty());
  }
  EXPECT_EQ(JournalFiles(), 0);  // an empty journal goes with its owner
  auto db = OpenStoreFile(path);
  Txn txn(*db);
  // A record applied twice, or naming a message that is gone, deletes nothing more.
  EXPECT_EQ(ApplyPendingDeletes(*db, {ids[1], ids[2]}), 2);
  EXPECT_EQ(ApplyPendingDeletes(*db, {ids[2], ids[1], 999999}), 0);
  txn.Commit();
  db.reset();
  Raw r = ReadRaw();
  EXPECT_EQ(r.messages, 4);
  EXPECT_EQ(r.badCounters, 0);
}

}  // namespace
}  // namespace oa::store::testing
