// Bad input to the whole program: damaged and foreign store files, broken agent values, huge
// texts and malformed dumps. Each has a clear outcome, no crash, and leaves the store's bytes
// as they were.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "mailbox/store/dump.h"
#include "tests/nowindow/run_fixture.h"
#include "tests/reliability/figures.h"

namespace oa::testing {
namespace {

using nlohmann::json;

void Sql(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class BadInput : public RunFixture {
 protected:
  ~BadInput() override { AddFigure("bad inputs tried", tried); }

  // Runs the cleanup of jdoe on the demo server and expects `status` with the store file
  // unchanged: its bytes when the logon fails (status 3); its whole content otherwise, since a
  // logged-on session may register the agent's named properties in the file.
  ChildResult ExpectUnchanged(const std::string& what, int status,
                              const std::string& mailbox = "jdoe") {
    ++tried;
    const std::string before = ReadFile(StoreFile());
    const std::string content = status == 3 ? "" : Content();
    ChildResult r = Cleanup({"--server", "demo", "--mailbox", mailbox});
    EXPECT_EQ(r.status, status) << what << "\n" << r.out << r.err;
    EXPECT_FALSE(r.out.empty() && r.err.empty()) << what;
    if (status == 3) {
      EXPECT_TRUE(ReadFile(StoreFile()) == before) << what << ": the store file changed";
    } else {
      EXPECT_TRUE(Content() == content) << what << ": the store changed";
    }
    return r;
  }

  std::string Content() {
    std::ostringstream out;
    std::string error;
    EXPECT_TRUE(store::ExportDump(StoreFile(), out, -1, &error)) << error;
    return out.str();
  }

  // A store of jdoe whose agent message carries `named`; the Handhelds folder holds 3 items.
  void ImportAgent(const json& named) {
    json store = MailboxStore({.alias = "jdoe"});
    for (auto& folder : store["root"]["folders"]) {
      if (folder["name"] == "ondavelAgentInfo") folder["messages"][0]["named"] = named;
    }
    Import(Dump({store}));
  }

  long tried = 0;
};

TEST_F(BadInput, StoreFilesThatCannotBeOpenedFailTheLogon) {
  WriteFile(StoreFile(), "");
  ExpectUnchanged("empty", 3);
  WriteFile(StoreFile(), std::string(4096, 'x') + "not a store, just text");
  ExpectUnchanged("not SQLite", 3);

  std::filesystem::remove(StoreFile());
  Sql(StoreFile(),
      "CREATE TABLE photos(id INTEGER PRIMARY KEY, name TEXT);"
      "INSERT INTO photos(name) VALUES ('beach');");
  ExpectUnchanged("another program's SQLite file", 3);

  std::filesystem::remove(StoreFile());
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 3000})}));
  const std::string whole = ReadFile(StoreFile());
  WriteFile(StoreFile(), whole.substr(0, whole.size() / 2));
  ExpectUnchanged("truncated", 3);

  WriteFile(StoreFile(), whole);
  Sql(StoreFile(), "PRAGMA user_version = 99");
  ExpectUnchanged("newer format version", 3);

  WriteFile(StoreFile(), whole);
  ::chmod(StoreFile().c_str(), 0400);
  ExpectUnchanged("read-only", 3);
  ::chmod(StoreFile().c_str(), 0600);
}

TEST_F(BadInput, FullDiskLeavesAWholeStore) {
  const std::string mountPoint = dir / "small";
  std::filesystem::create_directories(mountPoint);
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 2000})}));
  const auto size = std::filesystem::file_size(StoreFile());
  const std::string options = "size=" + std::to_string(size + 8192);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  const std::string small = mountPoint + "/demo.oastore";
  std::filesystem::copy_file(StoreFile(), small);
  env["OA_STORE_DIR"] = mountPoint;
  ++tried;
  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_LT(r.status, 128) << r.out << r.err;
  EXPECT_NE(r.status, 0) << r.out;
  // Checked on a copy: a full disk has no room for the reader's own files.
  const std::string copy = dir / "after.oastore";
  CopyStoreFiles(small, copy);
  ::umount(mountPoint.c_str());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(BadInput, BrokenHHEntryIDWithoutAPathFindsNoFolder) {
  TempDir other;
  ImportStore(Dump({MailboxStore({.alias = "jdoe"})}), other / "other.oastore");
  const std::string foreignID = HandheldsID(ExportStore(other / "other.oastore"), "jdoe");
  ASSERT_FALSE(foreignID.empty());
  for (const std::string& id : {std::string(), std::string("ABC"), std::string("ZZ00XX11"),
                                std::string(1 << 20, 'A'), foreignID}) {
    ImportAgent({{"HHEntryID", id}, {"HHPath", ""}});
    ExpectUnchanged("HHEntryID of " + std::to_string(id.size()) + " characters", 1);
  }
}

TEST_F(BadInput, PathsThatNameNoFolderFindNone) {
  std::string manyElements = "\\\\Mailbox - jdoe";
  for (int i = 0; i < 10000; ++i) manyElements += "\\F" + std::to_string(i);
  for (const std::string& path : {manyElements, std::string(200, '\\'),
                                  std::string("\\\\Mailbox - jdoe\\Hand\x01\x1b\x7fhelds"),
                                  "\\\\Mailbox - jdoe\\" + std::string(1 << 20, 'h')}) {
    ImportAgent({{"HHPath", path}});
    ExpectUnchanged("HHPath of " + std::to_string(path.size()) + " characters", 1);
  }
}

TEST_F(BadInput, HugeMailboxTextFailsTheLogon) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  ExpectUnchanged("100 KB mailbox", 3, std::string(100 * 1024, 'm'));
}

TEST_F(BadInput, MalformedDumpsAreRefusedWhole) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  const std::string before = ReadFile(StoreFile());
  const json good = Dump({MailboxStore({.alias = "mary"})});
  auto with = [&](const std::function<void(json&)>& change) {
    json d = good;
    change(d);
    return d.dump();
  };
  const std::vector<std::pair<std::string, std::string>> dumps = {
      {"not JSON", "{\"format\": \"oa-store-dump/1\", \"stores\": ["},
      {"invalid UTF-8", "{\"format\": \"oa-store-dump/1\", \"stores\": [], \"x\": \"\xff\xfe\"}"},
      {"no format", with([](json& d) { d.erase("format"); })},
      {"unknown format", with([](json& d) { d["format"] = "oa-store-dump/2"; })},
      {"duplicate key", with([](json& d) {
         d["stores"][0]["root"]["folders"][1]["folders"].push_back(
             {{"name", "Again"}, {"key", "mary-hh"}});
       })},
      {"unresolved ref", with([](json& d) {
         d["stores"][0]["root"]["folders"][0]["messages"][0]["named"]["HHEntryID"] = {
             {"ref", "nowhere"}};
       })},
      {"sibling folders with one name", with([](json& d) {
         d["stores"][0]["root"]["folders"][1]["folders"].push_back({{"name", "INBOX"}});
       })},
      {"property of the wrong type", with([](json& d) {
         d["stores"][0]["root"]["folders"][0]["messages"][0]["props"] = {{"0x10000003", "seven"}};
       })},
      {"mailbox without alias", with([](json& d) { d["stores"][0].erase("alias"); })},
      {"mailbox without address", with([](json& d) { d["stores"][0].erase("address"); })},
  };
  for (const auto& [what, text] : dumps) {
    ++tried;
    std::string error;
    EXPECT_FALSE(store::ImportDump(text, StoreFile(), &error)) << what;
    EXPECT_FALSE(error.empty()) << what;
    EXPECT_TRUE(ReadFile(StoreFile()) == before) << what << ": the store file changed";
  }
}

}  // namespace
}  // namespace oa::testing
