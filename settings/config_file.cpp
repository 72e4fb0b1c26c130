#include "settings/config_file.h"

namespace oa::settings {
namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool IsName(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_' || c == '.'))
      return false;
  return true;
}

}  // namespace

ConfigFileText ParseConfigFile(const std::string& path, const std::string& text) {
  ConfigFileText out;
  std::string section;
  int number = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    const std::string line = Trim(raw);
    auto fail = [&](const std::string& why) {
      out.errors.emplace_back(number, path + ":" + std::to_string(number) + ": " + why);
    };
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      const std::string name = line.back() == ']' ? Trim(line.substr(1, line.size() - 2)) : "";
      if (!IsName(name)) {
        fail("expected a section name in brackets, as [ews], but found \"" + line + "\"");
        section = "\x01";  // keys below a broken header are not reported again
        continue;
      }
      section = name;
      out.sections.push_back({name, number});
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      fail("expected \"key = value\" or a [section] line, but found \"" + line + "\"");
      continue;
    }
    const std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    if (!IsName(key)) {
      fail("\"" + key + "\" is no key name");
      continue;
    }
    if (section.empty()) {
      fail("\"" + key + "\" comes before any [section]");
      continue;
    }
    if (section == "\x01") continue;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    } else if (!value.empty() && value.front() == '"') {
      fail("the value of \"" + key + "\" has no closing quote");
      continue;
    }
    out.entries.push_back({section, key, value, number});
  }
  return out;
}

}  // namespace oa::settings
