#include "console/activity_log.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "base/date.h"
#include "base/locale_text.h"
#include "base/platform.h"

namespace oa {

ActivityLog::ActivityLog(std::string path, Clock clock)
    : path_(std::move(path)), clock_(clock ? std::move(clock) : Clock(&ActivityLog::Now)) {}

std::string ActivityLog::DefaultPath() {
  std::string dir = ProgramDirectory();
  if (dir.empty()) {
    std::error_code ec;
    dir = Utf8FromPath(std::filesystem::current_path(ec));
  }
  return Utf8FromPath(PathFromUtf8(dir) / "OA-Cleanup.log");
}

mailbox::Date ActivityLog::Now() {
  return mailbox::DateFromTimePoint(std::chrono::system_clock::now());
}

std::string ActivityLog::StampText(mailbox::Date when) {
  return mailbox::GeneralDateText(when);
}

void ActivityLog::Append(const std::string& sMsg, bool bClear,
                         const std::function<void()>& whileOpen) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(OpenOwnerOnlyFile(path_, "ab"));
  if (file) {
    // Older tools read the file in the system's ANSI code page (on POSIX systems: UTF-8).
    const std::string line =
        AnsiFromUtf8((bClear ? sMsg : StampText(clock_()) + ":" + sMsg) + "\r\n");
    std::fwrite(line.data(), 1, line.size(), file.get());
    std::fflush(file.get());
  }
  if (whileOpen) whileOpen();
}

}  // namespace oa
