// The cleanup window without its toolkit: the state the window holds for a run, the run
// control behind OK and Cancel, and WriteLog. The Qt window and the window-less mode drive it.
#pragma once

#include <memory>
#include <string>

#include "console/activity_log.h"
#include "console/console.h"
#include "mailbox/model/rdo.h"

namespace oa {

// Thrown by WriteLog when the window was unloaded while a run was in progress, so that the
// run ends at its next step without touching the session again. Caught where the run starts.
struct RunEnded {};

class Form {
 public:
  Form(Console& console, ActivityLog log);
  ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  Console& console() { return console_; }
  ActivityLog& log() { return log_; }

  // Fills the server and mailbox boxes from the registry.
  void Form_Load();
  // Checks the inputs and runs the cleanup. A press while a run is in progress is ignored.
  void cmdOK_Click();
  // Raises bCancel, lets events run three times, unloads the window.
  void cmdCancel_Click();
  // Ends the shared session and closes the window. During a run the session is ended when the
  // run has unwound, so that no object a run still uses is destroyed under it.
  void Form_Unload();

  // One step of a run: a results box line and a time-stamped log file line.
  void WriteLog(const std::string& sMsg, bool bClear = false);

  // Lets the window process pending events once.
  void DoEvents();

  bool Running() const { return running_; }
  bool Unloaded() const { return unloaded_; }
  // True once the run in progress has to stop: Cancel was pressed or the window was closed.
  bool StopRequested() const { return bCancel || unloaded_; }

  // The window's cancel flag.
  bool bCancel = false;

  // State the window keeps between the steps of a run and across runs.
  std::shared_ptr<mailbox::RDOFolder> agentInfoFolder;
  std::string hhEntryID;
  std::string hhPath;
  std::string agentMessageEntryID;
  // Public store entry ID cache of GetMessage.
  std::string messageStoreIDCache;
  // Second store entry ID cache of GetFolder.
  std::string folderStoreIDCache;

 private:
  void EndSession();

  Console& console_;
  ActivityLog log_;
  bool running_ = false;
  bool unloaded_ = false;
};

}  // namespace oa
