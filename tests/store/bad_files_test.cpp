// Logons to files that are missing, not stores, damaged, newer, locked or not accessible: the
// logon fails with a MAPI error that names the server, and the file stays as it was.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

std::string Bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class BadFilesTest : public StoreTest {
 protected:
  // Logs on, expects failure with `hr`, and that the file's bytes did not change.
  void ExpectRefused(const std::string& file, int32_t hr, const std::string& reason) {
    const std::string before = Bytes(file);
    auto s = NewEmbeddedSession();
    oa::Err().Clear();
    s->LogonExchangeMailbox("jdoe", file);
    EXPECT_FALSE(s->LoggedOn());
    EXPECT_EQ(oa::Err().Number(), hr) << oa::Err().Description();
    EXPECT_NE(oa::Err().Description().find(file), std::string::npos) << oa::Err().Description();
    EXPECT_NE(oa::Err().Description().find(reason), std::string::npos) << oa::Err().Description();
    EXPECT_EQ(Bytes(file), before);
    EXPECT_FALSE(std::filesystem::exists(file + "-wal"));
  }

  void Sql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
};

TEST_F(BadFilesTest, MissingEmptyAndForeignFiles) {
  auto s = NewEmbeddedSession();
  s->LogonExchangeMailbox("jdoe", dir + "/none.oastore");
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_NETWORK_ERROR);
  EXPECT_FALSE(std::filesystem::exists(dir + "/none.oastore"));

  const std::string empty = dir + "/empty.oastore";
  std::ofstream(empty).close();
  ExpectRefused(empty, C::MAPI_E_CORRUPT_DATA, "is empty");

  const std::string text = dir + "/text.oastore";
  std::ofstream(text) << "not a database at all, just some text that is long enough to "
                         "fill the header of a database file of the usual kind.";
  ExpectRefused(text, C::MAPI_E_CORRUPT_DATA, "not a store file");

  const std::string foreign = dir + "/foreign.oastore";
  Sql(foreign, "CREATE TABLE t(x); INSERT INTO t VALUES (1);");
  ExpectRefused(foreign, C::MAPI_E_CORRUPT_DATA, "not a store file");
}

TEST_F(BadFilesTest, NewerFormatTruncatedAndDamaged) {
  Import(Dump(Json::array({Mailbox("jdoe")})));
  const std::string newer = dir + "/newer.oastore";
  std::filesystem::copy_file(path, newer);
  Sql(newer, "PRAGMA user_version = 99");
  ExpectRefused(newer, C::MAPI_E_VERSION, "newer");

  Import(Dump(Json::array({Mailbox("jdoe", Json::array({{{"name", "Big"}, {"items", 3000}}}))})));
  const std::string cut = dir + "/cut.oastore";
  std::filesystem::copy_file(path, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
  ExpectRefused(cut, C::MAPI_E_CORRUPT_DATA, "truncated");

  // A damaged first page of the schema.
  const std::string damaged = dir + "/damaged.oastore";
  std::filesystem::copy_file(path, damaged);
  {
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    const std::string junk(3000, '\x5A');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  ExpectRefused(damaged, C::MAPI_E_CORRUPT_DATA, "");
}

TEST_F(BadFilesTest, ReadOnlyUnreadableAndDirectory) {
  Import(Dump(Json::array({Mailbox("jdoe")})));
  ::chmod(path.c_str(), 0400);
  ExpectRefused(path, C::MAPI_E_NO_ACCESS, "read-only");
  ::chmod(path.c_str(), 0000);
  ExpectRefused(path, C::MAPI_E_NO_ACCESS, "cannot be read");
  // Export reads a read-only file.
  ::chmod(path.c_str(), 0400);
  EXPECT_NE(Export().find("\"alias\": \"jdoe\""), std::string::npos);
  ::chmod(path.c_str(), 0600);

  const std::string folder = dir + "/folder.oastore";
  std::filesystem::create_directory(folder);
  auto s = NewEmbeddedSession();
  s->LogonExchangeMailbox("jdoe", folder);
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_CORRUPT_DATA);
}

TEST_F(BadFilesTest, LockedFileFailsAfterTheBusyTimeout) {
  Import(Dump(Json::array({Mailbox("jdoe")})));
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder,
                         "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; "
                         "UPDATE stores SET display_name = display_name; COMMIT;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  auto s = NewEmbeddedSession({}, {.busyTimeoutMs = 100});
  s->LogonExchangeMailbox("jdoe", path);
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_BUSY);
  EXPECT_NE(oa::Err().Description().find("locked"), std::string::npos) << oa::Err().Description();
  sqlite3_close(holder);
  s->LogonExchangeMailbox("jdoe", path);
  EXPECT_TRUE(s->LoggedOn()) << oa::Err().Description();
}

}  // namespace
}  // namespace oa::store::testing
