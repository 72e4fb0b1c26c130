// A process killed in the middle of its calls leaves a consistent file, and a second writer
// makes calls wait instead of fail.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "mailbox/store/sqlite_db.h"
#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

class DurabilityTest : public StoreTest {
 protected:
  Json BigFolder(int items = 20000) {
    Json top = {{"name", "Top of Information Store"},
                {"ipmRoot", true},
                {"folders", Json::array({{{"name", "Handhelds"}, {"items", items}}})}};
    return Dump(Json::array({Mailbox("jdoe", Json::array({top}))}));
  }

  // integrity_check, and every folder's counter equal to its messages.
  void ExpectConsistent() {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT count(*) FROM folders f WHERE item_count <> "
                                 "(SELECT count(*) FROM messages m WHERE m.folder_id = f.id)",
                                 -1, &st, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }

  // Polls the Handhelds folder's count through a read-only connection of its own until it is
  // at most `count`, for up to a minute; the count last read.
  int64_t WaitForCount(int64_t count) {
    sqlite3* db = nullptr;
    int64_t seen = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_busy_timeout(db, 1000);
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (std::chrono::steady_clock::now() < until) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT item_count FROM folders WHERE name = 'Handhelds'", -1,
                               &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
          seen = sqlite3_column_int64(st, 0);
        }
        sqlite3_finalize(st);
        if (seen >= 0 && seen <= count) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    sqlite3_close(db);
    return seen;
  }
};

TEST_F(DurabilityTest, KilledWhileDeletingAndRenaming) {
  Import(BigFolder(20000));
  int64_t last = 20000;
  // Kills after varied numbers of deletes, each waited for in the file itself.
  for (int64_t deletes : {1, 57, 400, 2500}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto s = NewEmbeddedSession();
      s->LogonExchangeMailbox("jdoe", path);
      auto top = s->Stores()->DefaultStore()->IPMRootFolder();
      auto items = top->Folders()->Item("Handhelds")->Items();
      for (int i = 0;; ++i) {
        items->GetFirst()->Delete(C::dfHardDelete);
        if (i % 50 == 0) {
          auto f = top->Folders()->Add("Set aside " + std::to_string(getpid()) + "-" +
                                       std::to_string(i));
          if (f) f->Delete();
        }
      }
    }
    const int64_t reached = WaitForCount(last - deletes);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_LE(reached, last - deletes) << "the child never got that far";
    ExpectConsistent();
    auto s = Logon();
    const int32_t now = s->Stores()
                            ->DefaultStore()
                            ->IPMRootFolder()
                            ->Folders()
                            ->Item("Handhelds")
                            ->Items()
                            ->Count();
    EXPECT_LE(now, last - deletes);
    EXPECT_GT(now, 0);
    last = now;
  }
}

TEST_F(DurabilityTest, CallsWaitForAnotherWriter) {
  Import(BigFolder());
  auto s = Logon();
  auto items = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; UPDATE folders SET name = name;", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  // The other writer lets go once the delete has been seen waiting for it (the store's busy
  // handler has run), however late either thread runs on a loaded machine.
  std::atomic<bool> released{false};
  const uint64_t waitsBefore = Db::BusyWaitsSoFar();
  std::thread release([&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Db::BusyWaitsSoFar() == waitsBefore && std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    released = true;
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  oa::Err().Clear();
  items->GetFirst()->Delete(C::dfHardDelete);
  const bool deletedAfterRelease = released;
  release.join();
  sqlite3_close(other);
  EXPECT_FALSE(oa::Err().Pending()) << oa::Err().Description();
  EXPECT_TRUE(deletedAfterRelease);
  EXPECT_EQ(items->Count(), 19999);
}

TEST_F(DurabilityTest, ABatchWritesItsCallsAtOnceAndEachCallFailsAlone) {
  Import(BigFolder(5));
  auto writer = Logon();
  auto reader = Logon();
  auto items = writer->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  auto seen = reader->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  ASSERT_TRUE(items && seen);
  {
    CallBatch batch;
    auto first = items->Items()->GetFirst();
    first->Delete(C::dfHardDelete);
    EXPECT_FALSE(oa::Err().Pending()) << oa::Err().Description();
    // Gone already: this call fails, and undoes nothing of the batch's.
    first->Delete(C::dfHardDelete);
    EXPECT_EQ(oa::Err().Number(), C::MAPI_E_OBJECT_DELETED);
    oa::Err().Clear();
    items->Items()->GetFirst()->Delete(C::dfHardDelete);
    EXPECT_FALSE(oa::Err().Pending()) << oa::Err().Description();
    EXPECT_EQ(items->Items()->Count(), 3);
    // Another connection sees the file as it was until the batch commits.
    EXPECT_EQ(seen->Items()->Count(), 5);
    EXPECT_TRUE(batch.Commit());
    EXPECT_EQ(seen->Items()->Count(), 3);
    items->Items()->GetFirst()->Delete(C::dfHardDelete);
  }
  // Ending the batch commits what it still holds.
  EXPECT_EQ(seen->Items()->Count(), 2);
  ExpectConsistent();
}

}  // namespace
}  // namespace oa::store::testing
