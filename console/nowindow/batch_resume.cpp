#include "console/nowindow/batch_resume.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "base/platform.h"
#include "base/text_fold.h"
#include "console/nowindow/batch_report.h"

namespace oa::nowindow {

std::optional<std::vector<ReportRecord>> ParseCsv(const std::string& text, std::string* error) {
  std::vector<ReportRecord> records;
  ReportRecord record;
  std::string field;
  size_t start = 0, line = 1, quoteLine = 0;
  bool quoted = false;
  auto endRecord = [&](size_t end) {
    record.fields.push_back(std::move(field));
    field.clear();
    record.text = text.substr(start, end - start);
    records.push_back(std::move(record));
    record = ReportRecord{};
    start = end;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
      quoteLine = line;
    } else if (c == ',') {
      record.fields.push_back(std::move(field));
      field.clear();
    } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      if (c == '\r') ++i, ++line;
      endRecord(i + 1);
    } else {
      field += c;
    }
  }
  if (quoted) {
    if (error)
      *error = "a quoted field opened on line " + std::to_string(quoteLine) + " never ends";
    return std::nullopt;
  }
  // A last record without its line end (a batch killed while writing it) is incomplete.
  return records;
}

std::optional<ResumePlan> PlanResume(const std::string& path,
                                     const std::vector<std::string>& mailboxes,
                                     std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<ResumePlan> {
    if (error) *error = path + ": " + why;
    return std::nullopt;
  };
  std::error_code ec;
  if (std::filesystem::is_directory(PathFromUtf8(path), ec)) return fail("is a directory");
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return fail("cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) return fail("cannot be read");
  std::string why;
  std::optional<std::vector<ReportRecord>> records = ParseCsv(text.str(), &why);
  if (!records) return fail(why);
  if (records->empty() || records->front().fields != BatchReport::HeaderFields()) {
    return fail("is not a batch report (its first line is not the report's header)");
  }

  // Completed rows by mailbox, in the order the report has them.
  std::map<std::string, std::vector<const ReportRecord*>> completed;
  for (size_t i = 1; i < records->size(); ++i) {
    const ReportRecord& r = (*records)[i];
    if (r.fields.size() < 2) continue;
    if (r.fields[1] == "completed") completed[text::Fold(r.fields[0])].push_back(&r);
  }
  ResumePlan plan;
  std::map<std::string, size_t> used;
  std::map<std::string, size_t> listed;
  for (const std::string& mailbox : mailboxes) {
    const std::string key = text::Fold(mailbox);
    ++listed[key];
    auto it = completed.find(key);
    size_t& next = used[key];
    if (it != completed.end() && next < it->second.size()) {
      plan.copiedRows.push_back(it->second[next++]->text);
    } else {
      plan.copiedRows.emplace_back();
    }
  }
  for (size_t i = 1; i < records->size(); ++i) {
    const ReportRecord& r = (*records)[i];
    if (r.fields.size() >= 2 && !listed.count(text::Fold(r.fields[0]))) ++plan.rowsNotInList;
  }
  return plan;
}

}  // namespace oa::nowindow
