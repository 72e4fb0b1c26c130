// The configuration file's INI form: [section] lines, then key = value lines; blank lines and
// lines starting with # or ; are skipped.
#pragma once

#include <string>
#include <vector>

namespace oa::settings {

struct ConfigLine {
  std::string section;
  std::string key;
  std::string value;
  int line = 0;
};

struct ConfigSection {
  std::string name;
  int line = 0;
};

struct ConfigFileText {
  std::vector<ConfigSection> sections;
  std::vector<ConfigLine> entries;
  // For each line that is no section, key = value, comment or blank: its number and
  // "FILE:LINE: reason".
  std::vector<std::pair<int, std::string>> errors;
};

// Splits the text into entries; section and key names are kept as written (lower case is
// expected), values are trimmed and may be enclosed in double quotes.
ConfigFileText ParseConfigFile(const std::string& path, const std::string& text);

}  // namespace oa::settings
