// What one run of the cleanup works with: the window it reports to (through a narrow
// interface, so that nothing below the console knows a toolkit), the state the window keeps
// between the steps of a run and across runs, and the record of what the run did.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mailbox/model/rdo.h"
#include "mailbox/model/read_only_session.h"
#include "mailbox/run_outcome.h"

namespace oa::mailbox {

// The window as a run sees it. The Qt window and the window-less mode provide it.
class RunHost {
 public:
  virtual ~RunHost() = default;
  // One step of a run: a results box line and a time-stamped log file line; with bClear the
  // results box is emptied instead. Lets pending events run once.
  virtual void WriteLog(const std::string& sMsg, bool bClear) = 0;
  // Application-modal, critical icon, one OK button, title "ondavelAgent Administrator".
  virtual void MsgBox(const std::string& text) = 0;
  // Lets the window process pending events once.
  virtual void DoEvents() = 0;
  // The caption of lblProgress, repainted at once.
  virtual void SetProgress(const std::string& caption) = 0;
  // The boxes as they read now: the logon takes its mailbox and server from them.
  virtual std::string ServerText() = 0;
  virtual std::string MailboxText() = 0;
  // True once the window has been unloaded: the run ends at its next step and does not touch
  // the session again.
  virtual bool Ended() = 0;
};

class RunContext {
 public:
  explicit RunContext(RunHost& host) : host_(host) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  RunHost& host() { return host_; }
  void WriteLog(const std::string& sMsg, bool bClear = false) { host_.WriteLog(sMsg, bClear); }
  bool Ended() { return host_.Ended(); }
  // Cancel was pressed or the window was closed.
  bool StopRequested() { return bCancel || host_.Ended(); }

  // The run's mailbox session: empty until the first run creates it; logged off and released
  // when the window unloads. Each window has its own (each job of a parallel batch is a window).
  std::shared_ptr<mailbox::RDOSession> RDO;

  // The window's cancel flag.
  bool bCancel = false;

  // Runs look everything up and change nothing: each change is noted (Plan) instead, and the
  // session is wrapped in a guard that refuses, and records here, any write that slips through.
  bool dryRun = false;
  std::shared_ptr<mailbox::RefusedCalls> refusedCalls;
  // Notes a change the run would make, on the record and as a "Dry run: would " line.
  void Plan(PlannedChange change);

  // Set by a batch whose jobs run at once: asked right after the logon with the mailbox's store
  // entry ID, which two spellings of one mailbox (an alias, an address) share. False: another
  // job holds that mailbox, and this run stops before it changes anything.
  std::function<bool(const std::string& storeEntryID)> claimMailbox;

  // Kept between the steps of a run and across runs.
  std::shared_ptr<mailbox::RDOFolder> agentInfoFolder;
  std::string hhEntryID;
  std::string hhPath;
  std::string agentMessageEntryID;
  // Public store entry ID cache of GetMessage.
  std::string messageStoreIDCache;
  // Second store entry ID cache of GetFolder.
  std::string folderStoreIDCache;

  // What the run in progress (or the last one) did; reset when a run starts.
  RunOutcome outcome;

 private:
  RunHost& host_;
};

// The results line of a planned change; it begins "Dry run: would ".
std::string DryRunLine(const PlannedChange& change);

inline void RunContext::Plan(PlannedChange change) {
  outcome.planned.push_back(std::move(change));
  WriteLog(DryRunLine(outcome.planned.back()));
}

}  // namespace oa::mailbox
