#include "base/locale_text.h"
#include "console/activity_log.h"

namespace oa::console {

// A new log file is UTF-8 with a byte order mark, so that every name keeps its characters and
// Notepad and PowerShell read it as UTF-8. A file that already has lines without the mark was
// written in the ANSI code page (by an earlier version, or a tool of the site's): it keeps that
// code page, since UTF-8 lines in it would show garbled to whatever reads it as ANSI, and a mark
// can only stand at a file's start. Moving such a file aside starts a UTF-8 one.
std::string EncodedLogLine(const std::string& start, const std::string& line) {
  static const std::string kBom = "\xEF\xBB\xBF";
  if (start.empty()) return kBom + line;
  if (start == kBom) return line;
  return AnsiFromUtf8(line);
}

}  // namespace oa::console
