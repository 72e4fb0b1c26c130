#include "console/nowindow/batch_report.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#include "base/platform.h"

namespace oa::nowindow {
namespace {

namespace fs = std::filesystem;

std::string CsvRecord(std::initializer_list<std::string> fields) {
  std::string record;
  for (const std::string& field : fields) {
    if (!record.empty()) record += ',';
    record += CsvField(field);
  }
  return record + "\r\n";
}

std::string Seconds(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", seconds);
  return buf;
}

// Writes all of `text` at once and flushes it, both checked; errno tells why on failure.
bool WriteAll(std::FILE* out, const std::string& text) {
  errno = 0;
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
}

std::string Reason() {
  return errno != 0 ? std::strerror(errno) : "write error";
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

const std::vector<std::string>& BatchReport::HeaderFields() {
  static const std::vector<std::string> fields{
      "mailbox", "outcome", "old_item_count", "new_folder_entry_id", "seconds", "last_log_line"};
  return fields;
}

bool BatchReport::Fail(const std::string& why) {
  file_.reset();
  error_ = "cannot write the report " + path_ + ": " + why;
  return false;
}

bool BatchReport::Open(const std::string& path, const std::vector<std::string>& copiedRows) {
  file_.reset();
  path_ = path;
  error_.clear();
  std::string text;
  for (const std::string& field : HeaderFields()) {
    text += text.empty() ? "" : ",";
    text += CsvField(field);
  }
  text += "\r\n";
  for (const std::string& row : copiedRows) text += row;

  std::error_code ec;
  const fs::file_status status = fs::symlink_status(PathFromUtf8(path), ec);
  if (status.type() == fs::file_type::symlink)
    return Fail("it is a symbolic link; name the file it points to");
  if (status.type() == fs::file_type::directory) return Fail("it is a directory");
  regular_ = status.type() == fs::file_type::regular || status.type() == fs::file_type::not_found;
  if (!regular_) {
    // A device or FIFO is not replaced by a file: the rows go to it as they are written.
    file_.reset(OpenFile(path, "wb"));
    if (!file_) return Fail(Reason());
    if (!WriteAll(file_.get(), text)) return Fail(Reason());
    written_ = text.size();
    return true;
  }

  const std::string partial = path + ".partial";
  {
    std::error_code ignored;
    fs::remove(PathFromUtf8(partial), ignored);
    errno = 0;
    std::unique_ptr<std::FILE, Closer> out(OpenFile(partial, "wb"));
    if (!out) return Fail(Reason());
    // Owner-only before any row is in it, whatever the umask: rows name mailboxes.
    fs::permissions(PathFromUtf8(partial), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ignored);
    bool written = WriteAll(out.get(), text);
    std::string why = written ? "" : Reason();
    if (std::fclose(out.release()) != 0 && written) written = false, why = Reason();
    if (!written) {
      fs::remove(PathFromUtf8(partial), ignored);
      return Fail(why);
    }
  }
  fs::rename(PathFromUtf8(partial), PathFromUtf8(path), ec);
  std::error_code ignored;
  if (ec && fs::is_regular_file(PathFromUtf8(path), ignored)) {
    // Some systems' rename does not replace a file; the rows are safe in `partial` meanwhile.
    fs::remove(PathFromUtf8(path), ignored);
    ec.clear();
    fs::rename(PathFromUtf8(partial), PathFromUtf8(path), ec);
  }
  // Left as it is: it holds the earlier report's completed rows.
  if (ec) return Fail(ec.message());
  errno = 0;
  file_.reset(OpenFile(path, "ab"));
  if (!file_) return Fail(Reason());
  written_ = text.size();
  return true;
}

bool BatchReport::Row(const std::string& mailbox, const RunResult& result, bool ran) {
  if (!file_) return false;
  const std::string row = CsvRecord(
      {mailbox, OutcomeWord(result.outcome),
       result.itemCount ? std::to_string(*result.itemCount) : std::string(),
       result.newFolderEntryID, ran ? Seconds(result.seconds) : std::string(), result.lastLine});
  if (WriteAll(file_.get(), row)) {
    written_ += row.size();
    return true;
  }
  const std::string why = Reason();
  file_.reset();
  if (regular_) {
    // A row cut short would be read back by --resume as a broken record.
    std::error_code ignored;
    fs::resize_file(PathFromUtf8(path_), written_, ignored);
  }
  return Fail(why);
}

}  // namespace oa::nowindow
