// The batch report: one CSV row per mailbox (RFC 4180: CR LF line ends, fields quoted when
// they hold a comma, a double quote or a line break, quotes doubled).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console/nowindow/run_result.h"

namespace oa::nowindow {

std::string CsvField(const std::string& text);

class BatchReport {
 public:
  // The header row's fields.
  static const std::vector<std::string>& HeaderFields();

  // Writes the header row and `copiedRows` (rows of an earlier report, each with its CR LF).
  // A regular file (or none yet) is written beside `path`, owner-only, and then replaces it,
  // so that an earlier report read for a resume is never lost half-way; a character device or
  // FIFO is written in place; a symbolic link or a directory is refused. False, with error(),
  // when it cannot be written.
  bool Open(const std::string& path, const std::vector<std::string>& copiedRows = {});
  // A mailbox's row, written in one piece and flushed at once so that a report of a stopped
  // batch is complete so far. `ran` false: the mailbox was never run (the batch was cancelled
  // before it). False, with error(), when the row could not be written: a regular file is then
  // cut back to its last whole row, and no later row is written.
  bool Row(const std::string& mailbox, const RunResult& result, bool ran);

  // Set once a write has failed; names the file and the reason.
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  bool Fail(const std::string& why);

  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;
  bool regular_ = false;
  // The length of the file's whole rows.
  uintmax_t written_ = 0;
  std::string error_;
};

}  // namespace oa::nowindow
