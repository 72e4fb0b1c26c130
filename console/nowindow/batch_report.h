// The batch report: one CSV row per mailbox (RFC 4180: CR LF line ends, fields quoted when
// they hold a comma, a double quote or a line break, quotes doubled).
#pragma once

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

  // Writes the header row and `copiedRows` (rows of an earlier report, each with its CR LF) to
  // a file beside `path` that then replaces it, so that an earlier report read for a resume is
  // never lost half-way. False when it cannot be written.
  bool Open(const std::string& path, const std::vector<std::string>& copiedRows = {});
  // A mailbox's row, flushed at once so that a report of a stopped batch is complete so far.
  // `ran` false: the mailbox was never run (the batch was cancelled before it).
  void Row(const std::string& mailbox, const RunResult& result, bool ran);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace oa::nowindow
