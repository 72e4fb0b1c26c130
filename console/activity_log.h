// The log file half of WriteLog: one time-stamped line per message, opened and closed for
// every line, CR LF line ends. A file that cannot be written is skipped silently.
#pragma once

#include <functional>
#include <string>

#include "base/variant.h"

namespace oa {

class ActivityLog {
 public:
  using Clock = std::function<mailbox::Date()>;

  explicit ActivityLog(std::string path, Clock clock = {});

  // "OA-Cleanup.log" in the directory of the running program.
  static std::string DefaultPath();
  // The current local date and time.
  static mailbox::Date Now();
  // The time stamp of a line: the locale general date.
  static std::string StampText(mailbox::Date when);

  const std::string& path() const { return path_; }

  // Opens the file for appending (creating it), writes the line, and hands the open file to
  // `whileOpen` before closing it, so the window's work happens while the file is open.
  // Ordinary line: stamp ":" message CR LF. Clear line: message CR LF.
  void Append(const std::string& sMsg, bool bClear, const std::function<void()>& whileOpen);

 private:
  std::string path_;
  Clock clock_;
};

}  // namespace oa
