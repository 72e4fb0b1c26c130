// oa-cleanup --no-window --dry-run against store files: the lookups run, every change is shown
// as a "Dry run: would " line, the store's export is the same byte for byte afterwards, and the
// exit status is the one the real run (made afterwards on a copy) ends its lookups with.
#include <gtest/gtest.h>
#include <sqlite3.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <sstream>

#include "base/date.h"
#include "mailbox/store/dump.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::testing {
namespace {

using nlohmann::json;

class DryRun : public RunFixture {
 protected:
  // Every message listed: a deleted one cannot hide behind the export's limit.
  std::string ExportText(const std::string& server = "demo") const {
    std::ostringstream out;
    std::string error;
    EXPECT_TRUE(store::ExportDump(StoreFile(server), out, -1, &error)) << error;
    return out.str();
  }

  // Named properties the store has given IDs to; a dry run must not add one.
  int64_t NamedPropCount(const std::string& server = "demo") const {
    sqlite3* db = nullptr;
    int64_t count = -1;
    if (sqlite3_open_v2(StoreFile(server).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_stmt* s = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT count(*) FROM named_props", -1, &s, nullptr) ==
              SQLITE_OK &&
          sqlite3_step(s) == SQLITE_ROW) {
        count = sqlite3_column_int64(s, 0);
      }
      sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return count;
  }

  // Dry run on "demo" (which must stay as it was), then the real run on a copy made before.
  struct Runs {
    ChildResult dry, real;
  };
  Runs DryThenReal(const std::vector<std::string>& args,
                   const std::vector<std::string>& dryOnly = {}) {
    CopyStore(StoreFile("demo"), "real");
    const std::string before = ExportText();
    const int64_t named = NamedPropCount();
    std::vector<std::string> dryArgs = {"--server", "demo", "--dry-run"};
    dryArgs.insert(dryArgs.end(), args.begin(), args.end());
    dryArgs.insert(dryArgs.end(), dryOnly.begin(), dryOnly.end());
    Runs runs;
    runs.dry = Cleanup(dryArgs);
    EXPECT_EQ(ExportText(), before) << "a dry run changed the store";
    EXPECT_EQ(NamedPropCount(), named) << "a dry run gave out a named-property ID";
    EXPECT_EQ(ExportText("real"), before);
    std::vector<std::string> realArgs = {"--server", "real"};
    realArgs.insert(realArgs.end(), args.begin(), args.end());
    runs.real = Cleanup(realArgs);
    EXPECT_EQ(Lines(runs.dry.out).back(), "Dry run: nothing was changed");
    return runs;
  }

  // A mailbox store of an export, kept (not a pointer into a temporary).
  json StoreOf(const std::string& alias, const std::string& server = "demo") const {
    const json dump = Export(server);
    const json* store = FindStore(dump, alias);
    return store ? *store : json();
  }

  // The messages of a mailbox's agent-info folder, in their order there.
  std::vector<std::string> AgentMessageIDs(const std::string& server = "demo") const {
    std::vector<std::string> ids;
    const json store = StoreOf("jdoe", server);
    for (const json& f : store["root"]["folders"]) {
      if (f["name"] != "ondavelAgentInfo") continue;
      for (const json& m : f["messages"]) ids.push_back(m["entryId"]);
    }
    return ids;
  }

  static std::vector<std::string> WouldLines(const std::string& out) {
    std::vector<std::string> would;
    for (const std::string& line : Lines(out)) {
      if (line.rfind("Dry run: would ", 0) == 0) would.push_back(line);
    }
    return would;
  }
};

json WithoutAgentFolder(json store) {
  json& folders = store["root"]["folders"];
  folders.erase(std::remove_if(folders.begin(), folders.end(),
                               [](const json& f) { return f["name"] == "ondavelAgentInfo"; }),
                folders.end());
  return store;
}

TEST_F(DryRun, HappyPathShowsEveryChangeAndChangesNothing) {
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 3})}));
  const std::string hh = HandheldsID(Export(), "jdoe");
  Runs r = DryThenReal({"--mailbox", "jdoe"});
  EXPECT_EQ(r.dry.status, 0);
  EXPECT_EQ(r.real.status, 0);
  std::vector<std::string> expected = LogonLines("jdoe");
  for (const std::string& line :
       {"Retrieved Handhelds folder using EntryID " + hh,
        std::string("CleanupHH: message count = 3"),
        "Dry run: would delete folder \"Handhelds\" (entry ID " + hh + ", 3 items)",
        std::string("Dry run: would rename it to \"Handhelds -1\" if the store refuses the "
                    "delete, then empty it item by item (3 items) and delete it"),
        std::string("Dry run: would create the top-level folder \"Handhelds\""),
        std::string("Dry run: would point the agent at the new Handhelds folder"),
        std::string("Dry run: nothing was changed")}) {
    expected.push_back(line);
  }
  EXPECT_EQ(Lines(r.dry.out), expected);
  EXPECT_EQ(r.dry.err, "");
}

TEST_F(DryRun, MissingAgentFolderWouldBeCreatedAndTheLookupWouldFail) {
  Import(Dump({WithoutAgentFolder(MailboxStore({.alias = "jdoe"}))}));
  Runs r = DryThenReal({"--mailbox", "jdoe"});
  EXPECT_EQ(r.dry.status, 3);
  EXPECT_EQ(r.real.status, 3);
  const std::vector<std::string> out = Lines(r.dry.out);
  const std::vector<std::string> tail(out.end() - 5, out.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "Dry run: would create the agent-info folder \"ondavelAgentInfo\"",
                      "GetAgentMessage no messages in AgentInfo folder",
                      "GetAgentMessage found no existing agent message",
                      "Failed to access agent folders", "Dry run: nothing was changed"}));
  // The real run created it where the dry run said.
  const json store = StoreOf("jdoe", "real");
  bool created = false;
  for (const json& f : store["root"]["folders"]) created |= f["name"] == "ondavelAgentInfo";
  EXPECT_TRUE(created);
}

TEST_F(DryRun, DuplicateAgentMessagesNamesTheOnesTheRealRunDeletes) {
  json store = MailboxStore({.alias = "jdoe", .items = 2});
  json& messages = store["root"]["folders"][0]["messages"];
  json extra = messages[0];
  extra.erase("key");
  extra["created"] = "2026-04-02T10:00:00Z";
  messages.push_back(extra);
  extra["created"] = "2026-01-05T08:30:00Z";
  messages.push_back(extra);
  Import(Dump({store}));
  const std::vector<std::string> agentIDs = AgentMessageIDs();
  ASSERT_EQ(agentIDs.size(), 3u);

  Runs r = DryThenReal({"--mailbox", "jdoe"});
  EXPECT_EQ(r.dry.status, 0);
  EXPECT_EQ(r.real.status, 0);
  auto created = [](const char* when) {
    using namespace std::chrono;
    const sys_seconds t =
        std::string(when) == "04" ? sys_days{2026y / 4 / 2} + 10h : sys_days{2026y / 3 / 1} + 9h;
    return oa::GeneralDateText(
        oa::DateFromUnixMillis(duration_cast<milliseconds>(t.time_since_epoch()).count()));
  };
  const std::vector<std::string> would = WouldLines(r.dry.out);
  ASSERT_GE(would.size(), 2u);
  EXPECT_EQ(would[0], "Dry run: would delete extra agent message created " + created("04") +
                          " (entry ID " + agentIDs[1] + ")");
  EXPECT_EQ(would[1], "Dry run: would delete extra agent message created " + created("03") +
                          " (entry ID " + agentIDs[0] + ")");
  // The real run deleted exactly those two and kept the oldest.
  EXPECT_EQ(AgentMessageIDs("real"), std::vector<std::string>{agentIDs[2]});
  std::vector<std::string> realDeletes;
  for (const std::string& line : Lines(r.real.out)) {
    if (line.rfind("GetAgentMessage deleting extra agent message created ", 0) == 0)
      realDeletes.push_back(line.substr(53));
  }
  EXPECT_EQ(realDeletes, (std::vector<std::string>{created("04"), created("03")}));
}

TEST_F(DryRun, PathOnlyAgentMessageWouldGetItsEntryIDWrittenBack) {
  json store = MailboxStore({.alias = "jdoe", .items = 1});
  store["root"]["folders"][0]["messages"][0]["named"].erase("HHEntryID");
  Import(Dump({store}));
  const std::string hh = HandheldsID(Export(), "jdoe");
  Runs r = DryThenReal({"--mailbox", "jdoe"});
  EXPECT_EQ(r.dry.status, 0);
  EXPECT_EQ(r.real.status, 0);
  const std::vector<std::string> out = Lines(r.dry.out);
  const auto found =
      std::find(out.begin(), out.end(),
                "Retrieved Handhelds folder using path \\\\Mailbox - jdoe\\Handhelds");
  ASSERT_NE(found, out.end()) << r.dry.out;
  ASSERT_NE(found + 1, out.end());
  EXPECT_EQ(*(found + 1), "Dry run: would write HHEntryID " + hh + " to the agent message");
}

TEST_F(DryRun, NoHandheldsFolderEndsWithTheRealRunsStatus) {
  // The agent names its folder by path only, and nothing is there under that name.
  json store = MailboxStore({.alias = "jdoe", .items = 1});
  store["root"]["folders"][0]["messages"][0]["named"].erase("HHEntryID");
  store["root"]["folders"][1]["folders"][1]["name"] = "Handhelds (old)";
  Import(Dump({store}));
  Runs r = DryThenReal({"--mailbox", "jdoe"});
  EXPECT_EQ(r.dry.status, 1) << r.dry.out;
  EXPECT_EQ(r.real.status, 1) << r.real.out;
  EXPECT_TRUE(WouldLines(r.dry.out).empty()) << r.dry.out;
}

TEST_F(DryRun, RefusedDeleteShowsTheSetAsideNameTheRealRunUses) {
  json store = MailboxStore({.alias = "jdoe", .items = 4});
  store["root"]["folders"][1]["folders"].push_back({{"name", "Handhelds -1"}});
  Import(Dump({store}, {Fault("Folder.Delete", "jdoe-hh", 1)}));
  const std::string hh = HandheldsID(Export(), "jdoe");
  Runs r = DryThenReal({"--mailbox", "jdoe"});
  EXPECT_EQ(r.dry.status, 0);
  EXPECT_EQ(r.real.status, 0);
  const std::vector<std::string> would = WouldLines(r.dry.out);
  ASSERT_EQ(would.size(), 4u) << r.dry.out;
  EXPECT_EQ(would[0], "Dry run: would delete folder \"Handhelds\" (entry ID " + hh + ", 4 items)");
  EXPECT_EQ(would[1],
            "Dry run: would rename it to \"Handhelds -2\" if the store refuses the delete, then "
            "empty it item by item (4 items) and delete it");
  const std::vector<std::string> real = Lines(r.real.out);
  EXPECT_NE(
      std::find(real.begin(), real.end(), "successfully renamed existing folder as Handhelds -2"),
      real.end())
      << r.real.out;
}

TEST_F(DryRun, ExistingTopLevelHandheldsWouldBeReused) {
  // The agent points at a folder under the Inbox; a top-level "Handhelds" is there too.
  json store = MailboxStore({.alias = "jdoe", .items = 2});
  json& top = store["root"]["folders"][1];
  top["folders"][1]["key"] = "jdoe-top-hh";
  top["folders"][0]["folders"] = {{{"name", "Handhelds"}, {"key", "jdoe-hh"}, {"items", 2}}};
  Import(Dump({store}));
  const std::string reused = FindTopFolder(StoreOf("jdoe"), "Handhelds")->value("entryId", "");
  Runs r = DryThenReal({"--mailbox", "jdoe"});
  EXPECT_EQ(r.dry.status, 0);
  const std::vector<std::string> would = WouldLines(r.dry.out);
  ASSERT_EQ(would.size(), 4u) << r.dry.out;
  EXPECT_EQ(would[2],
            "Dry run: would reuse the top-level folder \"Handhelds\" (entry ID " + reused + ")");
  EXPECT_EQ(would[3], "Dry run: would point the agent at the new Handhelds folder (HHEntryID " +
                          reused + ")");
  EXPECT_EQ(AgentHHEntryID(StoreOf("jdoe", "real")), reused);
}

TEST_F(DryRun, BatchReportsPlannedAndTheLookupFailures) {
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 2}),
               MailboxStore({.alias = "asmith", .handheldsExists = false}),
               MailboxStore({.alias = "bbig", .items = 5})}));
  WriteFile(dir / "list.txt", "jdoe\nasmith\nnobody\nbbig\n");
  Runs r = DryThenReal({"--mailboxes", dir / "list.txt"}, {"--report", dir / "report.csv"});
  EXPECT_EQ(r.dry.status, 3);
  EXPECT_EQ(r.real.status, 3);
  const std::vector<std::string> report = Lines(ReadFile(dir / "report.csv"));
  ASSERT_EQ(report.size(), 5u);
  auto outcomeOf = [&](size_t row) {
    const std::string& line = report[row];
    const size_t a = line.find(',');
    return line.substr(a + 1, line.find(',', a + 1) - a - 1);
  };
  EXPECT_EQ(outcomeOf(1), "planned");
  EXPECT_EQ(outcomeOf(2), "incomplete");
  EXPECT_EQ(outcomeOf(3), "logon");
  EXPECT_EQ(outcomeOf(4), "planned");
  // Each mailbox's run ends with the dry run's closing line.
  const std::vector<std::string> out = Lines(r.dry.out);
  EXPECT_EQ(std::count(out.begin(), out.end(), "Dry run: nothing was changed"), 4);
}

// A store the user may not write: the real run is refused at the logon, as before; the dry run
// reads it, shows its plan, and leaves the file's bytes as they were.
class ReadOnlyStore : public DryRun {
 protected:
  void SetUp() override {
    Import(Dump({MailboxStore({.alias = "jdoe", .items = 3})}));
    hh = HandheldsID(Export(), "jdoe");
    before = ReadFile(StoreFile());
    ASSERT_FALSE(before.empty());
  }

  // The refused real run, then the dry run; `wrap` is put before the program's own argv.
  void RefusedThenPlanned(const std::vector<std::string>& wrap) {
    auto run = [&](std::vector<std::string> args) {
      Child child;
      child.argv = wrap;
      for (const std::string& a : {std::string(OA_CLEANUP_BIN), std::string("--no-window"),
                                   std::string("--log"), logFile}) {
        child.argv.push_back(a);
      }
      child.argv.insert(child.argv.end(), args.begin(), args.end());
      child.env = env;
      return RunChild(child);
    };
    const ChildResult real = run({"--server", "demo", "--mailbox", "jdoe"});
    EXPECT_EQ(real.status, 3) << real.out << real.err;
    EXPECT_NE(real.err.find("The store file " + StoreFile() + " is read-only"), std::string::npos)
        << real.err;
    EXPECT_EQ(ReadFile(StoreFile()), before);

    const ChildResult dry = run({"--server", "demo", "--mailbox", "jdoe", "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.out << dry.err;
    EXPECT_EQ(dry.err, "");
    const std::vector<std::string> would = WouldLines(dry.out);
    ASSERT_EQ(would.size(), 4u) << dry.out;
    EXPECT_EQ(would[0],
              "Dry run: would delete folder \"Handhelds\" (entry ID " + hh + ", 3 items)");
    EXPECT_EQ(Lines(dry.out).back(), "Dry run: nothing was changed");
    EXPECT_EQ(ReadFile(StoreFile()), before) << "a dry run changed the store file";
  }

  std::string hh, before;
};

TEST_F(ReadOnlyStore, ByItsMode) {
  // Read-only by its mode also for root, who could write it: the program goes by the mode.
  namespace fs = std::filesystem;
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(StoreFile(), readOnly);
  RefusedThenPlanned({});
  fs::permissions(StoreFile(), fs::perms::owner_read | fs::perms::owner_write);
}

#ifndef _WIN32
TEST_F(ReadOnlyStore, OnAReadOnlyMount) {
  // The store directory mounted read-only in a namespace of the run's own: nobody may write
  // the file, root included, whatever its mode, and no journal can be made beside it.
  std::string unshare;
  for (const char* p : {"/usr/bin/unshare", "/bin/unshare"}) {
    if (unshare.empty() && ::access(p, X_OK) == 0) unshare = p;
  }
  if (unshare.empty()) GTEST_SKIP() << "no unshare program";
  const std::vector<std::string> wrap = {
      unshare,
      "-rm",
      "sh",
      "-c",
      "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" \"$1\" && shift && "
      "exec \"$@\"",
      "sh",
      storeDir};
  std::vector<std::string> probe = wrap;
  probe.push_back("true");
  if (RunProgram(probe).status != 0) {
    GTEST_SKIP() << "unshare cannot mount in a namespace of its own here";
  }
  RefusedThenPlanned(wrap);
  EXPECT_FALSE(std::filesystem::exists(StoreFile() + "-wal"));
}
#endif

TEST_F(DryRun, NeedsTheWindowlessMode) {
  ChildResult r = RunProgram({OA_CLEANUP_BIN, "--dry-run"}, env);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--no-window"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace oa::testing
