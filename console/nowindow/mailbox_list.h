// The mailboxes of a batch: one alias or address a line.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace oa::nowindow {

// Blank lines and lines whose first non-blank character is "#" are skipped; blanks, tabs and
// the CR of CR LF files are trimmed from both ends of a mailbox.
std::vector<std::string> ParseMailboxList(std::istream& in);

// The list in a file; nullopt when the file cannot be read.
std::optional<std::vector<std::string>> ReadMailboxList(const std::string& path);

}  // namespace oa::nowindow
