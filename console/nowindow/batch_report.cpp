#include "console/nowindow/batch_report.h"

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

bool BatchReport::Open(const std::string& path) {
  file_.reset(OpenFile(path, "wb"));
  if (!file_) return false;
  const std::string header = CsvRecord(
      {"mailbox", "outcome", "old_item_count", "new_folder_entry_id", "seconds", "last_log_line"});
  return std::fwrite(header.data(), 1, header.size(), file_.get()) == header.size() &&
         std::fflush(file_.get()) == 0;
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
