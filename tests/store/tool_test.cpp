// oa-store as a program, and the demonstration server it writes.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "mailbox/store/demo.h"
#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

struct Result {
  int status;
  std::string out;
};

Result RunTool(const std::string& args) {
  const std::string cmd = std::string(OA_STORE_TOOL) + " " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  Result r{-1, ""};
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class ToolTest : public StoreTest {};

TEST_F(ToolTest, DemoByNameInTheStoreDirectoryThenTree) {
  const std::string stores = dir + "/fresh/stores";
  setenv("OA_STORE_DIR", stores.c_str(), 1);
  const std::string storeDirectory = StoreDirectoryFromEnvironment();
  ASSERT_EQ(RunTool("demo lab").status, 0);
  const Result tree = RunTool("tree lab JDOE");
  EXPECT_EQ(tree.status, 0) << tree.out;
  auto s = NewEmbeddedSession(storeDirectory);
  s->LogonExchangeMailbox("jdoe", "lab");
  ASSERT_TRUE(s->LoggedOn()) << oa::Err().Description();
  auto hh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  EXPECT_NE(tree.out.find("      Handhelds  [25 items]  " + hh->EntryID() + "\n"),
            std::string::npos)
      << tree.out;
  EXPECT_EQ(tree.out.find("Anna Smith"), std::string::npos);
  unsetenv("OA_STORE_DIR");
}

TEST_F(ToolTest, ErrorsGoToStderrWithNonZeroExit) {
  EXPECT_NE(RunTool("").status, 0);
  EXPECT_NE(RunTool("export " + dir + "/missing.oastore").status, 0);
  ASSERT_EQ(RunTool("demo " + path).status, 0);
  const Result unknown = RunTool("tree " + path + " nobody");
  EXPECT_NE(unknown.status, 0);
  EXPECT_EQ(unknown.out, "oa-store: there is no mailbox nobody in " + path + "\n");
  const std::string bad = dir + "/bad.json";
  std::ofstream(bad) << "{\"format\": \"oa-store-dump/1\", \"stores\": [{\"kind\": \"mailbox\"}]}";
  const Result refused = RunTool("import " + bad + " " + path);
  EXPECT_NE(refused.status, 0);
  EXPECT_EQ(refused.out, "oa-store: " + bad + ": /stores/0/displayName: missing\n");
  for (const char* sub : {"import", "export", "demo", "tree"}) {
    const Result help = RunTool(std::string(sub) + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("STORE"), std::string::npos) << sub;
  }
}

TEST_F(ToolTest, RunsBesideSecretFilesItHasNoUseFor) {
  // A password file others may read stops a sign-in, not the store tool.
  const std::string pw = dir + "/pw";
  std::ofstream(pw) << "s3cret\n";
  ::chmod(pw.c_str(), 0644);
  setenv("OA_EWS_PASSWORD_FILE", pw.c_str(), 1);
  setenv("OA_GRAPH_SECRET_FILE", (dir + "/missing-secret").c_str(), 1);
  const Result demo = RunTool("demo " + path);
  unsetenv("OA_EWS_PASSWORD_FILE");
  unsetenv("OA_GRAPH_SECRET_FILE");
  EXPECT_EQ(demo.status, 0) << demo.out;
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(ToolTest, ExportStreamsAndImportReadsItBack) {
  ASSERT_EQ(RunTool("demo " + path).status, 0);
  const std::string dump = dir + "/demo.json";
  ASSERT_EQ(std::system((std::string(OA_STORE_TOOL) + " export " + path + " > " + dump).c_str()),
            0);
  const std::string copy = dir + "/copy.oastore";
  ASSERT_EQ(RunTool("import " + dump + " " + copy).status, 0);
  EXPECT_EQ(Export(kDefaultMaxMessages, copy), Export());
}

TEST_F(ToolTest, DemoServerHoldsWhatARunNeeds) {
  Import(DemoDump());
  for (const char* who : {"jdoe", "asmith", "bbig", "cpath", "dpublic", "efault"}) {
    SCOPED_TRACE(who);
    auto s = Logon(who);
    auto store = s->Stores()->DefaultStore();
    auto info = store->RootFolder()->Folders()->Item("ondavelAgentInfo");
    ASSERT_TRUE(info);
    auto agent = info->Items()->GetFirst();
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->MessageClass(), "ondavel.Agent");
    EXPECT_EQ(agent->Subject(), "ondavelAgent");
    const int32_t idTag = agent->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHEntryID") | C::PT_STRING8;
    const int32_t pathTag = agent->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHPath") | C::PT_STRING8;
    const oa::Variant hhPath = agent->Fields(pathTag);
    ASSERT_EQ(oa::TypeName(hhPath), "String");
    const oa::Variant hhId = agent->Fields(idTag);
    if (std::string(who) == "cpath") {
      EXPECT_TRUE(hhId.IsEmpty());
      EXPECT_EQ(hhPath.AsString(), "\\\\" + store->Name() + "\\Handhelds");
    } else if (std::string(who) == "dpublic") {
      EXPECT_EQ(hhPath.AsString(), "Public Folders\\All Public Folders\\Handhelds");
      auto pub = s->GetDefaultFolder(18)->Folders()->Item("Handhelds");
      EXPECT_EQ(hhId.AsString(), pub->EntryID());
    } else {
      auto hh = s->GetFolderFromID(hhId.AsString());
      ASSERT_TRUE(hh);
      EXPECT_EQ(hh->Name(), "Handhelds");
      EXPECT_EQ(hh->Parent()->EntryID(), store->IPMRootFolder()->EntryID());
    }
  }
  auto s = Logon("bbig");
  EXPECT_EQ(
      s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items()->Count(),
      12000);
  // Eve's Handhelds folder refuses its first deletion.
  s = Logon("efault");
  auto hh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  hh->Delete();
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_CALL_FAILED);
  EXPECT_TRUE(s->GetFolderFromID(hh->EntryID()));
}

}  // namespace
}  // namespace oa::store::testing
