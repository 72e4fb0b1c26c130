// The log file half of WriteLog: one time-stamped line per message, opened and closed for
// every line, CR LF line ends. A line that cannot be written is skipped; the caller learns of
// it from Append's result and tells the user once.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "base/variant.h"

namespace oa::console {

// The log file's name, in whichever directory holds it.
inline constexpr const char* kLogFileName = "OA-Cleanup.log";

class ActivityLog {
 public:
  using Clock = std::function<oa::Date()>;

  explicit ActivityLog(std::string path, Clock clock = {});

  // The log file of a run without --log: ChoosePath for the running program's directory and
  // the user's own place (settings::StatePlace).
  static std::string DefaultPath();
  // "OA-Cleanup.log" in `programDir` when that file can be appended to or made there (an
  // installed program's directory usually cannot: Program Files, /usr/bin); else the file in
  // `userDir`, which is made owner-only (with its missing parents) if need be. With neither
  // writable it stays beside the program, and the lines reach the window only.
  static std::string ChoosePath(const std::string& programDir, const std::string& userDir);
  // The current local date and time.
  static oa::Date Now();
  // The time stamp of a line: the locale general date.
  static std::string StampText(oa::Date when);
  // A message as the file holds it: control characters, line breaks too, escaped
  // (EscapeControls), so that no text from a server can start a line of its own.
  static std::string FileText(const std::string& sMsg);

  const std::string& path() const { return path_; }

  // Opens the file for appending (creating it), writes the line, and hands the open file to
  // `whileOpen` before closing it, so the window's work happens while the file is open.
  // Ordinary line: stamp ":" message CR LF. Clear line: message CR LF. Returns whether the
  // line reached the file; `whileOpen` runs either way.
  bool Append(const std::string& sMsg, bool bClear, const std::function<void()>& whileOpen);
  // Appends whole lines of another log file (with CR LF, UTF-8, maybe after a byte order mark:
  // a batch job's own file) in this file's encoding.
  bool AppendLogText(const std::string& text);
  // Why the last line did not reach the file ("Permission denied").
  const std::string& error() const { return error_; }

 private:
  // Writes UTF-8 lines to the open file in its encoding.
  bool Write(std::FILE* file, const std::string& utf8);

  std::string path_;
  Clock clock_;
  std::string error_;
};

// The encoding of the log file, which differs by system (activity_log-posix.cpp,
// activity_log-win32.cpp). `start`: the file's first bytes before this line (empty for a new or
// empty file). Returns the bytes to append for the UTF-8 `line`.
std::string EncodedLogLine(const std::string& start, const std::string& line);

}  // namespace oa::console
