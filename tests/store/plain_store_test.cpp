// Every call commits on its own: a delete that returned is in the file for every other
// connection and survives a kill, a writer of another process gets in while a folder is emptied
// item by item, and side files an earlier version left beside a store change nothing.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

class PlainStoreTest : public StoreTest {
 protected:
  void ImportItems(int items) {
    Json top = {{"name", "Top of Information Store"},
                {"ipmRoot", true},
                {"folders", Json::array({{{"name", "Handhelds"}, {"items", items}}})}};
    Import(Dump(Json::array({Mailbox("jdoe", Json::array({top}))})));
  }

  static std::shared_ptr<mb::RDOItems> Items(mb::RDOSession& s) {
    return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items();
  }

  // Straight from the file, past the store's own code.
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
};

TEST_F(PlainStoreTest, DeletesThatReturnedSurviveAKill) {
  ImportItems(500);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto s = NewEmbeddedSession();
    s->LogonExchangeMailbox("jdoe", path);
    auto items = Items(*s);
    for (int i = 0; i < 300; ++i) items->GetFirst()->Delete(C::dfHardDelete);
    const char done = oa::Err().Pending() ? 'e' : 'd';
    (void)!::write(ready[1], &done, 1);
    ::pause();
    ::_exit(0);
  }
  char done = 0;
  ASSERT_EQ(::read(ready[0], &done, 1), 1);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(done, 'd');
  const Raw r = ReadRaw();
  EXPECT_EQ(r.messages, 200);
  EXPECT_EQ(r.badCounters, 0);
  EXPECT_TRUE(r.canWrite);
}

TEST_F(PlainStoreTest, OtherConnectionsAndTheExportSeeDeletesAtOnce) {
  ImportItems(20);
  auto a = Logon();
  auto b = Logon();
  auto items = Items(*a);
  for (int i = 0; i < 5; ++i) items->GetFirst()->Delete(C::dfHardDelete);
  // Past the store's code: committed, and the file free for any writer.
  const Raw r = ReadRaw();
  EXPECT_EQ(r.messages, 15);
  EXPECT_TRUE(r.canWrite);
  EXPECT_EQ(Items(*b)->Count(), 15);
  items->GetFirst()->Delete(C::dfHardDelete);
  EXPECT_EQ(Items(*b)->Count(), 14);
  EXPECT_EQ(ExportJson()["stores"][0]["root"]["folders"][0]["folders"][0]["count"], 14);
  EXPECT_EQ(Items(*Logon())->Count(), 14);
}

TEST_F(PlainStoreTest, AWriterOfAnotherProcessGetsInWhileAFolderIsEmptied) {
  ImportItems(50000);
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
  auto s = Logon("jdoe", {.busyTimeoutMs = 2000});
  auto top = s->Stores()->DefaultStore()->IPMRootFolder();
  int made = 0;
  for (int i = 0; i < 20; ++i) {
    auto f = top->Folders()->Add("Agent data " + std::to_string(i));
    EXPECT_TRUE(f) << i << ": " << oa::Err().Description();
    made += f != nullptr;
  }
  // The writes above overlapped the deletes, or the test proved nothing.
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0);
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(made, 20);
  EXPECT_EQ(top->Folders()->Count(), 21);
  EXPECT_EQ(ReadRaw().badCounters, 0);
}

TEST_F(PlainStoreTest, StaleSideFilesOfAnEarlierVersionAreIgnored) {
  ImportItems(10);
  // A lock file and a journal as an earlier version left them, the journal naming messages.
  std::ofstream(path + "-writers") << "";
  std::ofstream(path + "-pending.4242.1", std::ios::binary) << std::string(64, '\x01');
  auto s = Logon();
  auto items = Items(*s);
  EXPECT_EQ(items->Count(), 10);
  items->GetFirst()->Delete(C::dfHardDelete);
  EXPECT_FALSE(oa::Err().Pending()) << oa::Err().Description();
  EXPECT_EQ(items->Count(), 9);
  s->Logoff();
  EXPECT_EQ(ReadRaw().messages, 9);
  EXPECT_EQ(Items(*Logon())->Count(), 9);
}

// A store written by an earlier version holds names lower-cased by the C library ("ς", "µ" and
// "ſ" kept as they are); after an open for writing they are found by any case of the name.
TEST_F(PlainStoreTest, NamesFoldedByAnEarlierVersionAreFoundAfterTheOpen) {
  const std::string name = "Σοφίας µ ſ";
  Json top = {{"name", "Top of Information Store"},
              {"ipmRoot", true},
              {"folders", Json::array({{{"name", name}}})}};
  Import(Dump(Json::array({Mailbox("jdoe", Json::array({top}))})));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "UPDATE folders SET name_fold = ?1 WHERE name = ?2", -1, &st, nullptr),
      SQLITE_OK);
  const std::string oldFold = "σοφίας µ ſ";
  sqlite3_bind_text(st, 1, oldFold.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
  sqlite3_finalize(st);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_close(db);

  auto s = Logon();
  auto folders = s->Stores()->DefaultStore()->IPMRootFolder()->Folders();
  for (const std::string& asked : {name, std::string("ΣΟΦΊΑΣ Μ S"), std::string("σοφίασ μ s")}) {
    auto folder = folders->Item(asked);
    ASSERT_NE(folder, nullptr) << asked;
    EXPECT_EQ(folder->Name(), name);
  }
}

}  // namespace
}  // namespace oa::store::testing
