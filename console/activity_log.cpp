#include "console/activity_log.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "base/date.h"

namespace oa {

ActivityLog::ActivityLog(std::string path, Clock clock)
    : path_(std::move(path)), clock_(clock ? std::move(clock) : Clock(&ActivityLog::Now)) {}

std::string ActivityLog::DefaultPath() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string dir = ec ? std::filesystem::current_path(ec).string() : exe.parent_path().string();
  return dir + "/OA-Cleanup.log";
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
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path_.c_str(), "ab"));
  if (file) {
    std::string line = bClear ? sMsg : StampText(clock_()) + ":" + sMsg;
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file.get());
    std::fflush(file.get());
  }
  if (whileOpen) whileOpen();
}

}  // namespace oa
