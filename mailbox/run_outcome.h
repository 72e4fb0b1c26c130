// The record of one run: what happened at each step, filled in by the procedures as they go.
// Exit status, the batch report and any later decision read this, never the log text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oa::mailbox {

// A change a dry run found it would make, noted where the run would have made it.
struct PlannedChange {
  enum class Kind {
    createAgentFolder,        // name
    deleteExtraAgentMessage,  // entryID, created
    writeHHEntryID,           // entryID: the value written to the agent message
    deleteFolder,             // name, entryID, items
    setAsideFolder,           // name: the set-aside name (empty: none free), items
    createHandhelds,          // name
    reuseHandhelds,           // name, entryID
    pointAgent,               // entryID: the reused folder's, empty for a folder to be created
  };
  Kind kind = Kind::createAgentFolder;
  std::string name{};
  std::string entryID{};
  int64_t items = -1;
  // A creation time as the log writes it.
  std::string created{};
};

struct RunOutcome {
  enum class Found { none, byEntryID, byPath };

  // The input checks passed and the run began (the results box was cleared).
  bool started = false;
  // A session object existed or could be created.
  bool sessionCreated = false;
  bool loggedOn = false;
  // The logon's error when it failed.
  int32_t logonError = 0;
  std::string logonErrorText;
  bool agentFolderCreated = false;
  bool agentFolderFound = false;
  bool agentMessageFound = false;
  int32_t extraAgentMessagesDeleted = 0;
  // Logged on to a mailbox another job of the batch holds (RunContext::claimMailbox).
  bool claimRefused = false;
  // ConnectMailbox returned True: logged on, agent folder and message found.
  bool connected = false;

  // The cleanup ran (the check box was ticked and the agent data was found).
  bool cleanupStarted = false;
  Found folderFound = Found::none;
  // HHEntryID written back after a find by path.
  bool entryIDRepaired = false;
  std::string oldFolderEntryID;
  // The old folder's item count when it was found; -1 when not read.
  int64_t oldItemCount = -1;
  bool oldDeleted = false;
  bool oldRenamed = false;
  std::string setAsideName;
  bool newFolderReady = false;
  std::string newFolderEntryID;
  bool agentPointed = false;

  // The item-by-item emptying of a renamed folder.
  bool emptyingStarted = false;
  int64_t itemsDeleted = 0;
  // Items left when the emptying ended; -1 when not known.
  int64_t itemsLeft = -1;
  // Items the store would not delete (skipped and left in place).
  int64_t itemsNotDeletable = 0;
  bool emptyingStopped = false;
  bool renamedFolderDeleted = false;
  // The renamed folder was kept with its items because the agent still points at it.
  bool renamedFolderKept = false;

  // A dry run: what it would have changed, in order.
  bool dryRun = false;
  std::vector<PlannedChange> planned;
};

}  // namespace oa::mailbox
