#include "console/nowindow/batch_report.h"

#include <filesystem>
#include <initializer_list>

#include "base/platform.h"

namespace oa::nowindow {
namespace {

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

bool BatchReport::Open(const std::string& path, const std::vector<std::string>& copiedRows) {
  file_.reset();
  std::string text;
  for (const std::string& field : HeaderFields()) {
    text += text.empty() ? "" : ",";
    text += CsvField(field);
  }
  text += "\r\n";
  for (const std::string& row : copiedRows) text += row;

  const std::string partial = path + ".partial";
  {
    std::unique_ptr<std::FILE, Closer> out(OpenFile(partial, "wb"));
    if (!out) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), out.get()) == text.size() &&
                         std::fflush(out.get()) == 0;
    if (std::fclose(out.release()) != 0 || !written) {
      std::error_code ec;
      std::filesystem::remove(PathFromUtf8(partial), ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(PathFromUtf8(partial), PathFromUtf8(path), ec);
  std::error_code ignored;
  if (ec && std::filesystem::is_regular_file(PathFromUtf8(path), ignored)) {
    // Some systems' rename does not replace a file; the rows are safe in `partial` meanwhile.
    std::filesystem::remove(PathFromUtf8(path), ignored);
    ec.clear();
    std::filesystem::rename(PathFromUtf8(partial), PathFromUtf8(path), ec);
  }
  // Left as it is: it holds the earlier report's completed rows.
  if (ec) return false;
  file_.reset(OpenFile(path, "ab"));
  return file_ != nullptr;
}

void BatchReport::Row(const std::string& mailbox, const RunResult& result, bool ran) {
  if (!file_) return;
  const std::string row = CsvRecord(
      {mailbox, OutcomeWord(result.outcome),
       result.itemCount ? std::to_string(*result.itemCount) : std::string(),
       result.newFolderEntryID, ran ? Seconds(result.seconds) : std::string(), result.lastLine});
  std::fwrite(row.data(), 1, row.size(), file_.get());
  std::fflush(file_.get());
}

}  // namespace oa::nowindow
