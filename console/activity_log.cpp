#include "console/activity_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "base/date.h"
#include "base/platform.h"
#include "console/control_escapes.h"
#include "settings/places.h"

namespace oa::console {
namespace {

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

// The first bytes a line's encoding depends on (a byte order mark).
constexpr size_t kStartBytes = 3;

// Whether a line could be appended to `file` now, without writing one: the file is opened for
// appending when it exists; else a probe file is made beside it and removed at once, so that
// the choice leaves nothing behind (the log itself is made by its first line).
bool CanAppend(const std::string& file) {
  std::error_code ec;
  if (std::filesystem::exists(PathFromUtf8(file), ec)) return File(OpenFile(file, "ab")) != nullptr;
  const std::string probe = file + ".probe-" + std::to_string(std::random_device{}());
  if (!File(OpenOwnerOnlyFile(probe, "wbx"))) return false;
  std::filesystem::remove(PathFromUtf8(probe), ec);
  return true;
}

// Makes `dir` and its missing parents, each for its owner only.
bool MakePrivateDirectories(const std::filesystem::path& dir) {
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return true;
  if (dir.empty() || dir == dir.parent_path()) return false;
  if (!MakePrivateDirectories(dir.parent_path())) return false;
  return MakePrivateDirectory(Utf8FromPath(dir)) || std::filesystem::is_directory(dir, ec);
}

}  // namespace

ActivityLog::ActivityLog(std::string path, Clock clock)
    : path_(std::move(path)), clock_(clock ? std::move(clock) : Clock(&ActivityLog::Now)) {}

std::string ActivityLog::DefaultPath() {
  std::string dir = ProgramDirectory();
  if (dir.empty()) {
    std::error_code ec;
    dir = Utf8FromPath(std::filesystem::current_path(ec));
  }
  return ChoosePath(dir, settings::StatePlace(settings::ProcessEnvironment()).path);
}

std::string ActivityLog::ChoosePath(const std::string& programDir, const std::string& userDir) {
  const std::string beside = JoinPath(programDir, kLogFileName);
  if (CanAppend(beside) || userDir.empty()) return beside;
  const std::string own = JoinPath(userDir, kLogFileName);
  if (MakePrivateDirectories(PathFromUtf8(userDir)) && CanAppend(own)) return own;
  return beside;
}

oa::Date ActivityLog::Now() {
  return oa::DateFromTimePoint(std::chrono::system_clock::now());
}

std::string ActivityLog::StampText(oa::Date when) {
  return oa::GeneralDateText(when);
}

std::string ActivityLog::FileText(const std::string& sMsg) {
  return EscapeControls(sMsg, LineBreaks::Escape);
}

bool ActivityLog::Append(const std::string& sMsg, bool bClear,
                         const std::function<void()>& whileOpen) {
  // Read and append: the file's first bytes tell the encoding its lines are in.
  File file(OpenOwnerOnlyFile(path_, "a+b"));
  bool written = false;
  if (file) {
    written =
        Write(file.get(),
              (bClear ? FileText(sMsg) : StampText(clock_()) + ":" + FileText(sMsg)) + "\r\n");
  } else {
    error_ = std::strerror(errno);
  }
  if (whileOpen) whileOpen();
  return written;
}

bool ActivityLog::AppendLogText(const std::string& text) {
  static const std::string kBom = "\xEF\xBB\xBF";
  const std::string lines = text.rfind(kBom, 0) == 0 ? text.substr(kBom.size()) : text;
  if (lines.empty()) return true;
  File file(OpenOwnerOnlyFile(path_, "a+b"));
  if (!file) {
    error_ = std::strerror(errno);
    return false;
  }
  return Write(file.get(), lines);
}

bool ActivityLog::Write(std::FILE* file, const std::string& utf8) {
  char start[kStartBytes] = {};
  size_t got = 0;
  if (std::fseek(file, 0, SEEK_SET) == 0) got = std::fread(start, 1, sizeof start, file);
  const std::string bytes = EncodedLogLine(std::string(start, got), utf8);
  // Appending: every write goes to the end, wherever the read left the position.
  std::fseek(file, 0, SEEK_END);
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
  if (!written) error_ = std::strerror(errno);
  return written;
}

}  // namespace oa::console
