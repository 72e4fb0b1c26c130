// A process killed in the middle of its calls leaves a consistent file, and a second writer
// makes calls wait instead of fail.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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
};

TEST_F(DurabilityTest, KilledWhileDeletingAndRenaming) {
  // Enough that the deletes outlast every kill below.
  Import(BigFolder(300000));
  int32_t last = 300000;
  for (int delayMs : {40, 90, 170}) {
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
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ExpectConsistent();
    auto s = Logon();
    const int32_t now = s->Stores()
                            ->DefaultStore()
                            ->IPMRootFolder()
                            ->Folders()
                            ->Item("Handhelds")
                            ->Items()
                            ->Count();
    EXPECT_LT(now, last);
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
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  const auto start = std::chrono::steady_clock::now();
  mb::Err().Clear();
  items->GetFirst()->Delete(C::dfHardDelete);
  const auto waited = std::chrono::steady_clock::now() - start;
  release.join();
  sqlite3_close(other);
  EXPECT_FALSE(mb::Err().Pending()) << mb::Err().Description();
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_EQ(items->Count(), 19999);
}

}  // namespace
}  // namespace oa::store::testing
