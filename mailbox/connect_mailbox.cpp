#include "mailbox/connect_mailbox.h"

#include <string>

#include "base/mapi_error.h"
#include "console/form.h"
#include "mailbox/agent_folders.h"
#include "mailbox/basGlobals.h"
#include "mailbox/model/session_registry.h"

namespace oa {

using mailbox::Err;

bool ConnectMailbox(Form& form) {
  mailbox::ErrScope scope;
  Console& console = form.console();

  if (!RDO) {
    form.WriteLog("instantiating RDO");
    Err().Clear();
    RDO = mailbox::CreateObject(mailbox::kSessionProgID);
    if (Err().Pending()) RDO.reset();
  }
  if (!RDO) {
    form.WriteLog("no RDO");
    console.MsgBox("Unable to create MAPI session!");
    return false;
  }

  form.WriteLog("Logging on with " + console.Text(Control::txtAlias) + " " +
                console.Text(Control::txtExServer));
  // Held locally so that the session outlives this call even if the window lets it go.
  std::shared_ptr<mailbox::RDOSession> session = RDO;
  // Only the logon and LoggedOn count as the logon's error; a failing LoggedOn replaces the
  // logon's error, a succeeding one leaves it pending.
  Err().Clear();
  session->LogonExchangeMailbox(console.Text(Control::txtAlias),
                                console.Text(Control::txtExServer));
  const bool loggedOn = session->LoggedOn();
  const mailbox::ErrObject logonError = Err();

  if (!loggedOn) {
    form.WriteLog("RDO.LoggedOn = False " + std::to_string(logonError.Number()) + " " +
                  logonError.Description());
    console.MsgBox("Unable to logon using dynamic profile " + console.Text(Control::txtExServer) +
                   " " + console.Text(Control::txtAlias) + "\r\n" + logonError.Description());
    return false;
  }

  form.WriteLog("LoggedOn = True");
  form.WriteLog("retrieving agent folders");
  if (GetAgentFolders(form)) return true;
  form.WriteLog("Failed to access agent folders");
  return false;
}

}  // namespace oa
