// How one window-less run ended, for the exit status and the batch report. The path a run took
// is read from the run's own record; whether the agent really points at a new folder and the
// old one is gone is then checked in the mailbox itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "mailbox/run_outcome.h"

namespace oa::console {
class Form;
}

namespace oa::nowindow {

// planned: a dry run that found the Handhelds folder (the cleanup would start).
// duplicate: the list names the mailbox again; it runs once, for its first entry.
enum class Outcome { completed, incomplete, input, logon, cancelled, planned, duplicate };

// 0, 1, 2, 3, 130, 0 and 0.
int ExitStatus(Outcome outcome);
// "completed", "incomplete", "input", "logon", "cancelled", "planned", "duplicate".
const char* OutcomeWord(Outcome outcome);

struct RunResult {
  Outcome outcome = Outcome::incomplete;
  std::optional<int64_t> itemCount;
  std::string newFolderEntryID;
  double seconds = 0.0;
  std::string lastLine;
};

// The row of a list entry that repeats entry `firstIndex` (0-based), `firstMailbox`.
RunResult DuplicateResult(size_t firstIndex, const std::string& firstMailbox);

// Judges a finished run from its record. `signalled`: Cancel was pressed by a signal during it.
// `lastLine`: the run's last results line, for the report only. For a run whose record has the
// agent pointed, the session (still logged on) is asked what the agent message now names and
// whether the old folder still opens. A dry run is judged by how far its lookups got.
RunResult JudgeRun(const mailbox::RunOutcome& record, const std::string& lastLine,
                   console::Form& form, bool signalled);

}  // namespace oa::nowindow
