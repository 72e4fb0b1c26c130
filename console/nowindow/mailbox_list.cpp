#include "console/nowindow/mailbox_list.h"

#include <filesystem>
#include <fstream>
#include <unordered_map>

#include "base/platform.h"
#include "base/text_fold.h"
#include "base/utf8.h"

namespace oa::nowindow {
namespace {

constexpr const char* kTrim = " \t\r";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

MailboxList ParseMailboxList(std::istream& in, const std::string& name) {
  MailboxList list;
  auto refuse = [&](size_t lineNumber, const std::string& why) {
    list.mailboxes.clear();
    list.error = name + ":" + std::to_string(lineNumber) + ": " + why;
    return list;
  };
  std::string line;
  size_t lineNumber = 0;
  // Read a byte past the limit, so that an over-long line is known without holding it whole.
  while (true) {
    line.clear();
    bool ended = false;
    int c;
    while ((c = in.get()) != std::char_traits<char>::eof()) {
      if (c == '\n') {
        ended = true;
        break;
      }
      if (line.size() == kMaxMailboxLineBytes + 1) continue;
      line.push_back(static_cast<char>(c));
    }
    if (!ended && line.empty()) break;
    ++lineNumber;
    if (lineNumber == 1 && line.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
      line.erase(0, kByteOrderMark.size());
    if (line.size() > kMaxMailboxLineBytes)
      return refuse(lineNumber,
                    "the line is longer than " + std::to_string(kMaxMailboxLineBytes) + " bytes");
    if (line.find('\0') != std::string::npos)
      return refuse(lineNumber, "the line holds a NUL byte");
    if (!ValidUtf8(line)) return refuse(lineNumber, "the line is not valid UTF-8");
    const size_t first = line.find_first_not_of(kTrim);
    if (first == std::string::npos || line[first] == '#') continue;
    if (list.mailboxes.size() == kMaxMailboxes)
      return refuse(lineNumber,
                    "the list names more than " + std::to_string(kMaxMailboxes) + " mailboxes");
    const size_t last = line.find_last_not_of(kTrim);
    list.mailboxes.push_back(line.substr(first, last - first + 1));
    if (!ended) break;
  }
  return list;
}

MailboxList ReadMailboxList(const std::string& path) {
  MailboxList list;
  std::error_code ec;
  if (std::filesystem::is_directory(PathFromUtf8(path), ec)) {
    list.error = "cannot read the mailbox list " + path + ": it is a directory";
    return list;
  }
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) {
    list.error = "cannot read the mailbox list " + path;
    return list;
  }
  list = ParseMailboxList(in, path);
  if (in.bad()) {
    list.mailboxes.clear();
    list.error = "cannot read the mailbox list " + path;
  }
  return list;
}

std::vector<std::optional<size_t>> FindDuplicates(const std::vector<std::string>& mailboxes) {
  std::vector<std::optional<size_t>> duplicateOf(mailboxes.size());
  std::unordered_map<std::string, size_t> first;
  for (size_t i = 0; i < mailboxes.size(); ++i) {
    auto [it, inserted] = first.emplace(text::Fold(text::TrimBlanks(mailboxes[i])), i);
    if (!inserted) duplicateOf[i] = it->second;
  }
  return duplicateOf;
}

}  // namespace oa::nowindow
