// oa-store against dumps and leftovers made to hurt it: folder chains nested deeper than any
// walk may go, temporary files of killed imports, and a umask that would open the store file.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

// A mailbox whose root holds a chain of `depth` folders, each inside the one before. Written as
// text: building it as a JSON value would recurse as deep as the chain.
std::string ChainDump(int depth) {
  std::string text = R"({"format": "oa-store-dump/1", "stores": [{"kind": "mailbox", "key": "a", )"
                     R"("displayName": "Mailbox - a", "alias": "a", "address": "a@example.com", )"
                     R"("root": {"folders": [)";
  for (int i = 0; i < depth; ++i) text += R"({"name": "f", "folders": [)";
  for (int i = 0; i < depth; ++i) text += "]}";
  return text + "]}}]}";
}

// The tool's status (-1 when it did not exit, e.g. killed by a signal) and its output.
std::pair<int, std::string> RunTool(const std::string& args) {
  const std::string cmd = std::string(OA_STORE_TOOL) + " " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return {-1, ""};
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int st = ::pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class HostileDumpTest : public StoreTest {};

TEST_F(HostileDumpTest, FolderChainDeeperThanTheLimitIsRefusedAndLeavesNoFile) {
  for (int depth : {7'000, 100'000}) {
    SCOPED_TRACE(depth);
    const std::string file = dir + "/deep.json";
    std::ofstream(file) << ChainDump(depth);
    const auto [status, out] = RunTool("import " + file + " " + path);
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(out, "oa-store: " + file +
                       ": the document: nested too deeply: folders may be nested 1000 levels "
                       "deep at most\n");
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"deep.json"});
  }
}

TEST_F(HostileDumpTest, FolderChainAtTheLimitImportsAndOneMoreIsRefusedWithItsPlace) {
  std::string error;
  EXPECT_TRUE(ImportDump(ChainDump(1000), path, &error)) << error;
  EXPECT_NE(Export().find("\"name\": \"f\""), std::string::npos);
  EXPECT_FALSE(ImportDump(ChainDump(1001), dir + "/other.oastore", &error));
  std::string place = "/stores/0/root";
  for (int i = 0; i < 1001; ++i) place += "/folders/0";
  EXPECT_EQ(error, place + ": nested too deeply: folders may be nested 1000 levels deep at most");
  EXPECT_FALSE(std::filesystem::exists(dir + "/other.oastore"));
}

// A store file made by other means than an import may nest its folders deeper than a dump may:
// the export and the tree, which walk the folders, stop with an error instead of overflowing
// the stack.
TEST_F(HostileDumpTest, StoreNestedDeeperThanADumpMayIsRefusedByEveryWalk) {
  // Two chains of 600 folders side by side below the root.
  std::string chain;
  for (int i = 0; i < 600; ++i) chain += R"({"name": "f", "folders": [)";
  for (int i = 0; i < 600; ++i) chain += "]}";
  std::string chains = ChainDump(0);
  const size_t at = chains.find("\"folders\": [") + std::string("\"folders\": [").size();
  chains.insert(at, chain + ", " + R"({"name": "g", "folders": [)" + chain + "]}");
  std::string error;
  ASSERT_TRUE(ImportDump(chains, path, &error)) << error;
  ASSERT_EQ(RunTool("export " + path).first, 0);
  // The second chain is hung below the first one's deepest folder: 1,201 levels.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const char* sql =
      "UPDATE folders SET parent_id = (SELECT id FROM folders WHERE name = 'f' ORDER BY id "
      "LIMIT 1 OFFSET 599) WHERE name = 'g'";
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_close(db);
  for (const char* command : {"export", "tree"}) {
    SCOPED_TRACE(command);
    const auto [status, out] = RunTool(std::string(command) + " " + path);
    EXPECT_EQ(status, 1) << out.substr(0, 300);
    EXPECT_NE(out.find("the store's folders are nested more than 1000 levels deep"),
              std::string::npos)
        << out.substr(out.size() > 300 ? out.size() - 300 : 0);
  }
}

TEST_F(HostileDumpTest, ImportRemovesTempFilesOfDeadImportsOfTheSameTargetOnly) {
  // A process that is surely gone: a child that has exited and been waited for.
  const pid_t dead = ::fork();
  ASSERT_GE(dead, 0);
  if (dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  const std::string deadTmp = "mail.oastore.tmp-" + std::to_string(dead) + "-1";
  const std::string liveTmp = "mail.oastore.tmp-" + std::to_string(::getpid()) + "-7";
  const std::vector<std::string> kept = {
      liveTmp,                                                // a running import's
      "mail.oastore.tmp-" + std::to_string(dead) + "-1.bak",  // no name of ours
      "other.oastore.tmp-" + std::to_string(dead) + "-1",     // another target's
  };
  for (const std::string& name : {deadTmp, deadTmp + "-wal", deadTmp + "-journal"})
    std::ofstream(dir + "/" + name) << "half-written";
  for (const std::string& name : kept) std::ofstream(dir + "/" + name) << "in use";
  // A directory with the name of a dead import's file is not ours to remove.
  const std::string deadDir = "mail.oastore.tmp-" + std::to_string(dead) + "-2";
  std::filesystem::create_directory(dir + "/" + deadDir);

  Import(Dump({Mailbox("jdoe")}));
  std::vector<std::string> expected = kept;
  expected.push_back(deadDir);
  expected.push_back("mail.oastore");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(dir), expected);
}

TEST_F(HostileDumpTest, StoreFileIsTheOwnersOnlyUnderAnOpenUmask) {
  const mode_t saved = ::umask(0);
  const auto [status, out] = RunTool("demo " + path);
  ::umask(saved);
  ASSERT_EQ(status, 0) << out;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

}  // namespace
}  // namespace oa::store::testing
