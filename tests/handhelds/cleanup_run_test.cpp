// Whole runs from OK to the last line against real store files: each outcome of the cleanup,
// the log compared whole and the store's state afterwards read from its export.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/handhelds/form_run.h"

namespace oa::testing {

using mailbox::RunOutcome;

namespace {

json StandardNamed() {
  return {{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", kHHPath}};
}

// The mailbox with the Handhelds folder (key "hh") holding `items` filler messages.
json HandheldsDump(int items, std::vector<json> faults = {}, std::vector<json> moreTop = {},
                   json named = StandardNamed()) {
  std::vector<json> top = {Folder("Handhelds", "hh", items)};
  for (auto& f : moreTop) top.push_back(f);
  return Dump({MailboxStore(top, AgentMessage(named))}, faults);
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<std::string> Countdown(int from) {
  std::vector<std::string> captions;
  for (int n = from; n >= 0; --n) captions.push_back("Count = " + std::to_string(n));
  return captions;
}

class CleanupRun : public StoreRun {
 protected:
  // The lines up to the delete attempt, for a folder found by entry ID.
  std::vector<std::string> UpToDelete(int items, const std::string& entryID) {
    return Concat(LogonLines(), {"Retrieved Handhelds folder using EntryID " + entryID,
                                 "CleanupHH: message count = " + std::to_string(items),
                                 "CleanupHH: attempting to delete folder"});
  }
  // The top-level Handhelds folder after a run: exists, empty, and the agent points at it.
  void ExpectAgentOnNewEmptyFolder(const json& after, const std::string& oldID) {
    const json* fresh = FindFolder(after, {kTopName, "Handhelds"});
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh->at("entryId"), oldID);
    EXPECT_EQ(fresh->at("count"), 0);
    EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), fresh->at("entryId"));
    EXPECT_EQ(NamedOf(AgentOf(after), "HHPath"), kHHPath);
  }
};

TEST_F(CleanupRun, DeleteWorks) {
  Import(HandheldsDump(3));
  const std::string old = IdOf("hh");
  const auto expected = Concat(UpToDelete(3, old), {"successfully deleted existing folder",
                                                    "Created new Handhelds folder in mailbox",
                                                    "pointed agent to new Handhelds folder"});
  EXPECT_EQ(PressOK(), expected);
  EXPECT_TRUE(console.progress.empty());
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})), std::vector<std::string>{"Handhelds"});
  ExpectAgentOnNewEmptyFolder(after, old);

  // The run's record says the same as its lines, and names the folder the agent now holds.
  const RunOutcome& record = form->outcome();
  EXPECT_TRUE(record.started && record.loggedOn && record.connected && record.cleanupStarted);
  EXPECT_EQ(record.folderFound, RunOutcome::Found::byEntryID);
  EXPECT_EQ(record.oldFolderEntryID, old);
  EXPECT_EQ(record.oldItemCount, 3);
  EXPECT_TRUE(record.oldDeleted);
  EXPECT_FALSE(record.oldRenamed || record.emptyingStarted || record.renamedFolderKept);
  EXPECT_TRUE(record.newFolderReady && record.agentPointed);
  EXPECT_EQ(record.newFolderEntryID, NamedOf(AgentOf(after), "HHEntryID"));

  // The log file holds the same lines, each after its time stamp, set off by an empty line.
  std::ifstream file(dir / "OA-Cleanup.log", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::vector<std::string> fileLines;
  std::string all = text.str();
  // A new log on Windows starts with a byte order mark.
  if (all.rfind("\xEF\xBB\xBF", 0) == 0) all.erase(0, 3);
  for (std::size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2)
    fileLines.push_back(all.substr(at, end - at));
  ASSERT_EQ(fileLines.size(), expected.size() + 1);
  EXPECT_EQ(fileLines[0], "");
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string& line = fileLines[i + 1];
    const std::string tail = ":" + expected[i];
    ASSERT_GT(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
  }
}

TEST_F(CleanupRun, DeleteReportsAnErrorButTheFolderIsGone) {
  Import(HandheldsDump(3, {Fault("Folder.Delete", "hh", "applied", 1)}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(),
            Concat(UpToDelete(3, old), {"error deleting folder &H80004005 Unspecified error",
                                        "successfully deleted existing folder",
                                        "Created new Handhelds folder in mailbox",
                                        "pointed agent to new Handhelds folder"}));
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})), std::vector<std::string>{"Handhelds"});
  ExpectAgentOnNewEmptyFolder(after, old);
}

TEST_F(CleanupRun, DeleteReportsNothingButTheFolderStaysSoItIsRenamedEmptiedAndDeleted) {
  Import(HandheldsDump(3, {Fault("Folder.Delete", "hh", "silent", 1)}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(), Concat(UpToDelete(3, old),
                              {"failed to delete existing Handhelds folder; attempting rename",
                               "successfully renamed existing folder as Handhelds -1",
                               "Created new Handhelds folder in mailbox",
                               "pointed agent to new Handhelds folder",
                               "Deleted all items, attempting to delete folder"}));
  EXPECT_EQ(console.progress, Countdown(3));
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})), std::vector<std::string>{"Handhelds"});
  ExpectAgentOnNewEmptyFolder(after, old);
}

TEST_F(CleanupRun, RenameTakesTheFirstFreeNumber) {
  // The delete fails outright this time; its error is logged and the rename follows.
  Import(HandheldsDump(2, {Fault("Folder.Delete", "hh", "none", 1)},
                       {Folder("Handhelds -1"), Folder("handhelds -2")}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(), Concat(UpToDelete(2, old),
                              {"error deleting folder &H80004005 Unspecified error",
                               "failed to delete existing Handhelds folder; attempting rename",
                               "successfully renamed existing folder as Handhelds -3",
                               "Created new Handhelds folder in mailbox",
                               "pointed agent to new Handhelds folder",
                               "Deleted all items, attempting to delete folder"}));
  const json after = Export();
  EXPECT_EQ(Sorted(ChildNames(*FindFolder(after, {kTopName}))),
            Sorted({"Handhelds", "Handhelds -1", "handhelds -2"}));
  ExpectAgentOnNewEmptyFolder(after, old);
}

TEST_F(CleanupRun, AllHundredNamesTakenLeavesFolderAndAgentAlone) {
  std::vector<json> taken;
  for (int n = 1; n <= 100; ++n) taken.push_back(Folder("Handhelds -" + std::to_string(n)));
  Import(HandheldsDump(3, {Fault("Folder.Delete", "hh", "silent", 1)}, taken));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(), Concat(UpToDelete(3, old),
                              {"failed to delete existing Handhelds folder; attempting rename",
                               "failed to rename existing folder"}));
  const json after = Export();
  const json* kept = FindFolder(after, {kTopName, "Handhelds"});
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->at("entryId"), old);
  EXPECT_EQ(kept->at("count"), 3);
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})).size(), 101u);
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), old);
}

// The agent message opens for the lookup, but not again: the run ends before the delete, with
// the store's reason, and nothing in the mailbox has changed.
TEST_F(CleanupRun, AgentThatCannotBeOpenedAgainEndsTheRunBeforeAnyChange) {
  json reopen = Fault("Session.GetMessageFromID", "agent");
  reopen["after"] = 1;
  Import(HandheldsDump(3, {reopen}));
  const json before = Export();
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(),
            Concat(LogonLines(), {"Retrieved Handhelds folder using EntryID " + old,
                                  "CleanupHH: message count = 3",
                                  "Nothing changed: the agent could not be pointed at a new "
                                  "Handhelds folder: Unspecified error"}));
  json after = Export();
  after.erase("faults");
  json was = before;
  was.erase("faults");
  EXPECT_EQ(after, was);
  EXPECT_FALSE(form->outcome().oldDeleted || form->outcome().oldRenamed);
}

TEST_F(CleanupRun, NoNewFolderAfterARenameKeepsTheRenamedFolderWithItsItems) {
  Import(HandheldsDump(
      3, {Fault("Folder.Delete", "hh", "silent", 1), Fault("Folders.Add", "top", "none")}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(),
            Concat(UpToDelete(3, old),
                   {"failed to delete existing Handhelds folder; attempting rename",
                    "successfully renamed existing folder as Handhelds -1",
                    "CreateHandheldsFolder failed: unable to create Handhelds folder in mailbox",
                    "Kept renamed folder Handhelds -1 with its items: the agent still uses it"}));
  EXPECT_TRUE(console.progress.empty());
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})), std::vector<std::string>{"Handhelds -1"});
  const json* kept = FindFolder(after, {kTopName, "Handhelds -1"});
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->at("entryId"), old);
  EXPECT_EQ(kept->at("count"), 3);
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), old);
}

TEST_F(CleanupRun, AgentThatCannotBePointedAtTheNewFolderKeepsTheRenamedOne) {
  Import(HandheldsDump(
      3, {Fault("Folder.Delete", "hh", "silent", 1), Fault("Mail.Save", "agent", "none")}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(),
            Concat(UpToDelete(3, old),
                   {"failed to delete existing Handhelds folder; attempting rename",
                    "successfully renamed existing folder as Handhelds -1",
                    "Created new Handhelds folder in mailbox",
                    "error pointing agent to new Handhelds folder &H80004005 Unspecified error",
                    "Kept renamed folder Handhelds -1 with its items: the agent still uses it"}));
  const json after = Export();
  EXPECT_EQ(Sorted(ChildNames(*FindFolder(after, {kTopName}))),
            Sorted({"Handhelds", "Handhelds -1"}));
  EXPECT_EQ(CountOf(after, {kTopName, "Handhelds -1"}), 3);
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), old);
}

TEST_F(CleanupRun, NoNewFolderAfterADeleteLeavesTheAgentOnTheOldIDAndTheNextRunFindsNothing) {
  // A top-level "handhelds" in other letter case is not reused, and the store refuses to add
  // "Handhelds" beside it.
  Import(Dump({MailboxStore(
      {Folder("Devices", "", 0, {Folder("Handhelds", "hh", 1)}), Folder("handhelds", "lower", 4)},
      AgentMessage({{"HHEntryID", {{"ref", "hh"}}},
                    {"HHPath", "\\\\Mailbox - John Doe\\Devices\\Handhelds"}}))}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(),
            Concat(UpToDelete(1, old),
                   {"successfully deleted existing folder",
                    "CreateHandheldsFolder failed: unable to create Handhelds folder in mailbox"}));
  json after = Export();
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), old);
  EXPECT_EQ(CountOf(after, {kTopName, "handhelds"}), 4);

  form->run().RDO.reset();  // a later start of the program
  EXPECT_EQ(
      PressOK(),
      Concat(LogonLines(),
             {"Unable to get Handhelds folder using EntryID " + old,
              "GetFolderFromPath error: Handhelds folder could not be found in specified "
              "location!",
              "Unable to get Handhelds folder at \\\\Mailbox - John Doe\\Devices\\Handhelds"}));
  after = Export();
  EXPECT_EQ(Sorted(ChildNames(*FindFolder(after, {kTopName}))), Sorted({"Devices", "handhelds"}));
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), old);
}

TEST_F(CleanupRun, ExistingTopLevelHandheldsIsReused) {
  const std::string path = "\\\\Mailbox - John Doe\\Devices\\Handhelds";
  Import(Dump({MailboxStore(
      {Folder("Devices", "", 0, {Folder("Handhelds", "hh", 2)}), Folder("Handhelds", "top-hh", 5)},
      AgentMessage({{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", path}}))}));
  const std::string reused = IdOf("top-hh");
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(), Concat(UpToDelete(2, old), {"successfully deleted existing folder",
                                                   "Created new Handhelds folder in mailbox",
                                                   "pointed agent to new Handhelds folder"}));
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName, "Devices"})), std::vector<std::string>{});
  const json* top = FindFolder(after, {kTopName, "Handhelds"});
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->at("entryId"), reused);
  EXPECT_EQ(top->at("count"), 5);
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), reused);
}

TEST_F(CleanupRun, OnlyHHPathSetFindsByPathAndThenWorksByTheEntryIDItWroteBack) {
  // The delete is silent, so the rename has to reopen the folder by the repaired entry ID.
  Import(HandheldsDump(2, {Fault("Folder.Delete", "hh", "silent", 1)}, {}, {{"HHPath", kHHPath}}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(
      PressOK(),
      Concat(LogonLines(),
             {std::string("Retrieved Handhelds folder using path ") + kHHPath,
              "CleanupHH: message count = 2", "CleanupHH: attempting to delete folder",
              "failed to delete existing Handhelds folder; attempting rename",
              "successfully renamed existing folder as Handhelds -1",
              "Created new Handhelds folder in mailbox", "pointed agent to new Handhelds folder",
              "Deleted all items, attempting to delete folder"}));
  EXPECT_EQ(form->run().hhEntryID, old);
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})), std::vector<std::string>{"Handhelds"});
  ExpectAgentOnNewEmptyFolder(after, old);
}

TEST_F(CleanupRun, NeitherLookupFindsTheFolder) {
  const std::string missing = "00000000000102030405060708090A0B0C0D0E0F02000000000000FFFF";
  Import(Dump({MailboxStore({Folder("Elsewhere", "", 2)},
                            AgentMessage({{"HHEntryID", missing}, {"HHPath", kHHPath}}))}));
  EXPECT_EQ(PressOK(),
            Concat(LogonLines(),
                   {"Unable to get Handhelds folder using EntryID " + missing,
                    "GetFolderFromPath error: Handhelds folder could not be found in specified "
                    "location!",
                    std::string("Unable to get Handhelds folder at ") + kHHPath}));
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})), std::vector<std::string>{"Elsewhere"});
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), missing);
}

TEST_F(CleanupRun, BothValuesEmpty) {
  Import(HandheldsDump(3, {}, {}, json::object()));
  EXPECT_EQ(PressOK(),
            Concat(LogonLines(), {"CleanupHH: unable to retrieve folder - HHEntryID and HHPath "
                                  "properties are blank"}));
  const json after = Export();
  EXPECT_EQ(CountOf(after, {kTopName, "Handhelds"}), 3);
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), "");
}

TEST_F(CleanupRun, ProgressAcrossTenThousandItems) {
  Import(HandheldsDump(10000, {Fault("Folder.Delete", "hh", "silent", 1)}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(),
            Concat(UpToDelete(10000, old),
                   {"failed to delete existing Handhelds folder; attempting rename",
                    "successfully renamed existing folder as Handhelds -1",
                    "Created new Handhelds folder in mailbox",
                    "pointed agent to new Handhelds folder", "Deleted 5000 items",
                    "Deleted 10000 items", "Deleted all items, attempting to delete folder"}));
  EXPECT_EQ(console.progress, Countdown(10000));
  ExpectAgentOnNewEmptyFolder(Export(), old);
}

TEST_F(CleanupRun, ItemsThatCannotBeDeletedAreLeftAndTheFolderIsKept) {
  json dump = HandheldsDump(
      2, {Fault("Folder.Delete", "hh", "silent", 1), Fault("Mail.Delete", "refused", "none"),
          Fault("Mail.Delete", "ignored", "silent"), Fault("Mail.Delete", "grudging", "applied")});
  json& hh = dump["stores"][0]["root"]["folders"][0]["folders"][0];
  hh["messages"] = json::array({{{"key", "refused"}, {"subject", "refused"}},
                                {{"key", "grudging"}, {"subject", "grudging"}},
                                {{"key", "ignored"}, {"subject", "ignored"}}});
  Import(dump);
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(), Concat(UpToDelete(5, old),
                              {"failed to delete existing Handhelds folder; attempting rename",
                               "successfully renamed existing folder as Handhelds -1",
                               "Created new Handhelds folder in mailbox",
                               "pointed agent to new Handhelds folder",
                               "Could not delete 2 items; kept renamed folder Handhelds -1"}));
  // The refused item, then the grudging one (deleted despite its error), the ignored one, and
  // the two fillers.
  EXPECT_EQ(console.progress, (std::vector<std::string>{"Count = 5", "Count = 5", "Count = 4",
                                                        "Count = 4", "Count = 3", "Count = 2"}));
  const json after = Export();
  const json* kept = FindFolder(after, {kTopName, "Handhelds -1"});
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->at("count"), 2);
  std::vector<std::string> left;
  for (const auto& m : kept->at("messages")) left.push_back(m.at("subject"));
  EXPECT_EQ(Sorted(left), Sorted({"ignored", "refused"}));
  ExpectAgentOnNewEmptyFolder(after, old);

  const RunOutcome& record = form->outcome();
  EXPECT_FALSE(record.oldDeleted);
  EXPECT_TRUE(record.oldRenamed && record.agentPointed && record.emptyingStarted);
  EXPECT_EQ(record.setAsideName, "Handhelds -1");
  EXPECT_EQ(record.itemsDeleted, 3);
  EXPECT_EQ(record.itemsNotDeletable, 2);
  EXPECT_EQ(record.itemsLeft, 2);
  EXPECT_FALSE(record.emptyingStopped || record.renamedFolderDeleted);
}

TEST_F(CleanupRun, AnAlreadyEmptyRenamedFolderIsDeleted) {
  Import(HandheldsDump(0, {Fault("Folder.Delete", "hh", "silent", 1)}));
  const std::string old = IdOf("hh");
  EXPECT_EQ(PressOK(), Concat(UpToDelete(0, old),
                              {"failed to delete existing Handhelds folder; attempting rename",
                               "successfully renamed existing folder as Handhelds -1",
                               "Created new Handhelds folder in mailbox",
                               "pointed agent to new Handhelds folder",
                               "Deleted all items, attempting to delete folder"}));
  EXPECT_EQ(console.progress, std::vector<std::string>{"Count = 0"});
  const json after = Export();
  EXPECT_EQ(ChildNames(*FindFolder(after, {kTopName})), std::vector<std::string>{"Handhelds"});
  ExpectAgentOnNewEmptyFolder(after, old);
}

TEST_F(CleanupRun, CancelDuringEmptyingStopsAfterTheItemInHandAndClosesTheWindow) {
  Import(HandheldsDump(50, {Fault("Folder.Delete", "hh", "silent", 1)}));
  const std::string old = IdOf("hh");
  bool pressed = false;
  console.onEvents = [&] {
    // "Count = 40" is up: the next item is in hand when the click arrives.
    if (!pressed && console.progress.size() == 11) {
      pressed = true;
      form->cmdCancel_Click();
    }
  };
  EXPECT_EQ(PressOK(), Concat(UpToDelete(50, old),
                              {"failed to delete existing Handhelds folder; attempting rename",
                               "successfully renamed existing folder as Handhelds -1",
                               "Created new Handhelds folder in mailbox",
                               "pointed agent to new Handhelds folder",
                               "Canceled delete of folder items before completion; count = 39"}));
  EXPECT_EQ(console.progress.back(), "Count = 40");
  EXPECT_EQ(console.closes, 1);
  EXPECT_TRUE(form->Unloaded());
  EXPECT_EQ(form->run().RDO, nullptr);
  const json after = Export();
  const json* kept = FindFolder(after, {kTopName, "Handhelds -1"});
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->at("entryId"), old);
  EXPECT_EQ(kept->at("count"), 39);
  ExpectAgentOnNewEmptyFolder(after, old);
}

TEST_F(CleanupRun, WindowClosedDuringAProgressLineEndsTheRunWithTheCancelLine) {
  Import(HandheldsDump(5200, {Fault("Folder.Delete", "hh", "silent", 1)}));
  bool closed = false;
  console.onEvents = [&] {
    if (!closed && !console.results.empty() && console.results.back() == "Deleted 5000 items") {
      closed = true;
      form->Form_Unload();  // the frame's close box: no cancel flag
    }
  };
  const auto lines = PressOK();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"Deleted 5000 items",
                                      "Canceled delete of folder items before completion; "
                                      "count = 200"}));
  EXPECT_FALSE(form->run().bCancel);
  EXPECT_EQ(form->run().RDO, nullptr);
  EXPECT_EQ(CountOf(Export(), {kTopName, "Handhelds -1"}), 200);
}

}  // namespace
}  // namespace oa::testing
