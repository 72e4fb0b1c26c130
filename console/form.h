// The cleanup window without its toolkit: the state the window holds for a run, the run
// control behind OK and Cancel, and WriteLog. The Qt window and the window-less mode drive it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "console/activity_log.h"
#include "console/console.h"
#include "mailbox/run_context.h"
#include "settings/settings.h"

namespace oa::console {

// The window's side of a run: the procedures reach the window only as a RunHost.
class Form : private mailbox::RunHost {
 public:
  Form(Console& console, ActivityLog log);
  ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  Console& console() { return console_; }
  ActivityLog& log() { return log_; }

  // Fills the server and mailbox boxes from the registry (on systems without one, from the
  // export files `registry` names).
  void Form_Load(const settings::RegistryFiles& registry);
  // Checks the inputs and runs the cleanup. A press while a run is in progress is ignored.
  void cmdOK_Click();
  // Raises bCancel, lets events run three times, unloads the window.
  void cmdCancel_Click();
  // Ends the shared session and closes the window. During a run the session is ended when the
  // run has unwound, so that no object a run still uses is destroyed under it.
  void Form_Unload();

  // One step of a run: a results box line and a time-stamped log file line.
  void WriteLog(const std::string& sMsg, bool bClear = false) override;

  // Lets the window process pending events once.
  void DoEvents() override;

  bool Running() const { return running_; }
  bool Unloaded() const { return unloaded_; }

  // The state the window keeps for its runs (the cancel flag, the agent's data, the caches)
  // and the record of the last run.
  mailbox::RunContext& run() { return run_; }
  const mailbox::RunOutcome& outcome() const { return run_.outcome; }

 private:
  void EndSession();
  // The closing lines of a dry run: any write its guard refused since `refusedBefore`, then
  // "Dry run: nothing was changed".
  void EndDryRun(size_t refusedBefore);
  // Work the session holds back goes out when the run pauses for the user.
  void SendHeldBack();

  // RunHost
  void MsgBox(const std::string& text) override;
  void SetProgress(const std::string& caption) override;
  std::string ServerText() override;
  std::string MailboxText() override;
  bool Ended() override { return unloaded_; }

  Console& console_;
  ActivityLog log_;
  mailbox::RunContext run_{*this};
  bool running_ = false;
  bool unloaded_ = false;
  // The user has been told that the log file cannot be written.
  bool toldLogNotWritten_ = false;
};

}  // namespace oa::console
