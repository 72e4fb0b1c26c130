#include "mailbox/connect_mailbox.h"

#include <string>

#include "base/mapi_error.h"
#include "mailbox/agent_folders.h"
#include "mailbox/model/session_registry.h"

namespace oa::mailbox {

namespace {

// The mailbox as the server resolved it (its store) must be no other job's; a store whose
// entry ID cannot be read is claimed by nobody, and the steps that follow meet its error.
bool ClaimMailbox(RunContext& run, mailbox::RDOSession& session) {
  std::string storeID;
  if (std::shared_ptr<mailbox::RDOStores> stores = session.Stores()) {
    if (std::shared_ptr<mailbox::RDOStore> store = stores->DefaultStore())
      storeID = store->EntryID();
  }
  Err().Clear();
  if (storeID.empty() || run.claimMailbox(storeID)) return true;
  run.outcome.claimRefused = true;
  run.WriteLog("Another entry of the list names the same mailbox; it is run once, there");
  return false;
}

}  // namespace

bool ConnectMailbox(RunContext& run) {
  oa::ErrScope scope;
  RunHost& host = run.host();
  RunOutcome& outcome = run.outcome;

  if (!run.RDO) {
    run.WriteLog("instantiating RDO");
    if (run.Ended()) return false;
    Err().Clear();
    run.RDO = mailbox::CreateObject(mailbox::kSessionProgID);
    if (Err().Pending()) run.RDO.reset();
    // A dry run's session cannot write, whatever a procedure asks of it.
    if (run.RDO && run.dryRun) {
      if (!run.refusedCalls) run.refusedCalls = std::make_shared<mailbox::RefusedCalls>();
      run.RDO = mailbox::NewReadOnlySession(run.RDO, run.refusedCalls);
    }
  }
  if (!run.RDO) {
    run.WriteLog("no RDO");
    if (!run.Ended()) host.MsgBox("Unable to create MAPI session!");
    return false;
  }
  outcome.sessionCreated = true;

  run.WriteLog("Logging on with " + host.MailboxText() + " " + host.ServerText());
  if (run.Ended()) return false;
  // Held locally so that the session outlives this call even if the window lets it go.
  std::shared_ptr<mailbox::RDOSession> session = run.RDO;
  // Only the logon and LoggedOn count as the logon's error; a failing LoggedOn replaces the
  // logon's error, a succeeding one leaves it pending.
  Err().Clear();
  session->LogonExchangeMailbox(host.MailboxText(), host.ServerText());
  const bool loggedOn = session->LoggedOn();
  const oa::ErrObject logonError = Err();

  if (!loggedOn) {
    outcome.logonError = logonError.Number();
    outcome.logonErrorText = logonError.Description();
    run.WriteLog("RDO.LoggedOn = False " + std::to_string(logonError.Number()) + " " +
                 logonError.Description());
    if (!run.Ended()) {
      host.MsgBox("Unable to logon using dynamic profile " + host.ServerText() + " " +
                  host.MailboxText() + "\r\n" + logonError.Description());
    }
    return false;
  }
  outcome.loggedOn = true;

  run.WriteLog("LoggedOn = True");
  if (run.Ended()) return false;
  if (run.claimMailbox && !ClaimMailbox(run, *session)) return false;
  run.WriteLog("retrieving agent folders");
  if (run.Ended()) return false;
  if (GetAgentFolders(run)) {
    outcome.connected = true;
    return true;
  }
  if (run.Ended()) return false;
  run.WriteLog("Failed to access agent folders");
  return false;
}

}  // namespace oa::mailbox
