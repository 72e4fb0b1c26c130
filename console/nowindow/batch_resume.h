// Resuming a batch from its earlier report: which mailboxes of the list completed there, and
// their rows exactly as written, to be copied into the new report.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace oa::nowindow {

// One record of a report: its fields, and its text as it stands in the file (CR LF included).
struct ReportRecord {
  std::vector<std::string> fields;
  std::string text;
};

// The records of an RFC 4180 text. nullopt, with `error` naming the line, for a quoted field
// that never ends.
std::optional<std::vector<ReportRecord>> ParseCsv(const std::string& text, std::string* error);

struct ResumePlan {
  // For each mailbox of the list: the row to copy (the mailbox completed), or empty (run it).
  std::vector<std::string> copiedRows;
  // Rows of the earlier report whose mailbox is not in the list (they are not copied).
  size_t rowsNotInList = 0;
};

// Reads the earlier report `path` and matches its rows to `mailboxes` (without regard to case;
// a mailbox listed twice matches its rows in order). nullopt, with `error` saying why, for a
// file that cannot be read or is not a batch report.
std::optional<ResumePlan> PlanResume(const std::string& path,
                                     const std::vector<std::string>& mailboxes, std::string* error);

}  // namespace oa::nowindow
