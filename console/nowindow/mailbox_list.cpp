#include "console/nowindow/mailbox_list.h"

#include <filesystem>
#include <fstream>

#include "base/platform.h"

namespace oa::nowindow {

std::vector<std::string> ParseMailboxList(std::istream& in) {
  constexpr const char* kTrim = " \t\r";
  std::vector<std::string> mailboxes;
  std::string line;
  while (std::getline(in, line)) {
    const size_t first = line.find_first_not_of(kTrim);
    if (first == std::string::npos || line[first] == '#') continue;
    const size_t last = line.find_last_not_of(kTrim);
    mailboxes.push_back(line.substr(first, last - first + 1));
  }
  return mailboxes;
}

std::optional<std::vector<std::string>> ReadMailboxList(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(PathFromUtf8(path), ec)) return std::nullopt;
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::string> mailboxes = ParseMailboxList(in);
  if (in.bad()) return std::nullopt;
  return mailboxes;
}

}  // namespace oa::nowindow
