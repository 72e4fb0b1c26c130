// The mailboxes of a batch: one alias or address a line.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace oa::nowindow {

// A line longer than this is no mailbox name (an alias or SMTP address is far shorter).
constexpr size_t kMaxMailboxLineBytes = 1024;
// A list longer than this is refused rather than held in memory.
constexpr size_t kMaxMailboxes = 1000000;

struct MailboxList {
  std::vector<std::string> mailboxes;
  // Set when the list was refused: names the list, the line and the reason.
  std::string error;
};

// Blank lines and lines whose first non-blank character is "#" are skipped; blanks, tabs and
// the CR of CR LF files are trimmed from both ends of a mailbox. A UTF-8 byte order mark at
// the start is skipped. A line over kMaxMailboxLineBytes, with a NUL byte or with invalid
// UTF-8, or more than kMaxMailboxes mailboxes, refuses the list; `name` names it in the error.
MailboxList ParseMailboxList(std::istream& in, const std::string& name = "the mailbox list");

// The list in a file; error set when the file cannot be read or is refused.
MailboxList ReadMailboxList(const std::string& path);

// For each mailbox, the index of the earlier list entry naming the same mailbox (letter case
// ignored, as Exchange and the store compare aliases and addresses), or nullopt for the first.
std::vector<std::optional<size_t>> FindDuplicates(const std::vector<std::string>& mailboxes);

}  // namespace oa::nowindow
