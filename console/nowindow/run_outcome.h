// How one window-less run ended, for the exit status and the batch report. The path a run took
// is read from its own results box lines as they arrive; whether the agent really points at a
// new folder and the old one is gone is then checked in the mailbox itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace oa {
class Form;
}

namespace oa::nowindow {

enum class Outcome { completed, incomplete, input, logon, cancelled };

// 0, 1, 2, 3 and 130.
int ExitStatus(Outcome outcome);
// "completed", "incomplete", "input", "logon", "cancelled".
const char* OutcomeWord(Outcome outcome);

// The lines of one run (from the results box clearing on), judged one at a time.
class RunTrace {
 public:
  // The results box was cleared: the input checks passed and the run began.
  void Started();
  void Line(const std::string& line);

  bool started() const { return started_; }
  // The session could not be created or logged on, or the agent's data was not found.
  bool logonFailed() const { return logonFailed_; }
  // The cleanup reports the agent message written with the new folder's entry ID.
  bool pointed() const { return pointed_; }
  // The old folder's item count as the cleanup logged it.
  const std::optional<int64_t>& itemCount() const { return itemCount_; }
  const std::string& lastLine() const { return lastLine_; }

 private:
  bool started_ = false;
  bool logonFailed_ = false;
  bool pointed_ = false;
  std::optional<int64_t> itemCount_;
  std::string lastLine_;
};

struct RunResult {
  Outcome outcome = Outcome::incomplete;
  std::optional<int64_t> itemCount;
  std::string newFolderEntryID;
  double seconds = 0.0;
  std::string lastLine;
};

// Judges a finished run. `signalled`: Cancel was pressed by a signal during it. For a run that
// reports the agent pointed, the session (still logged on) is asked what the agent message now
// names and whether the old folder still opens.
RunResult JudgeRun(const RunTrace& trace, Form& form, bool signalled);

}  // namespace oa::nowindow
