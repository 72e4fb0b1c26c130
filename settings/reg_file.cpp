#include "settings/reg_file.h"

#include <array>
#include <optional>

#include "settings/utf16.h"

namespace oa::settings::regfile {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
// The system's own limits; they also bound the depth of the tree a file can build.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxKeyDepth = 512;

struct RootName {
  std::string_view full;
  std::string_view abbreviation;
  std::optional<Hive> hive;  // none: a root no file here holds
};
constexpr std::array<RootName, 5> kRoots{{
    {"HKEY_CLASSES_ROOT", "HKCR", std::nullopt},
    {"HKEY_CURRENT_USER", "HKCU", Hive::CurrentUser},
    {"HKEY_LOCAL_MACHINE", "HKLM", Hive::LocalMachine},
    {"HKEY_USERS", "HKU", std::nullopt},
    {"HKEY_CURRENT_CONFIG", "HKCC", std::nullopt},
}};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}
std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}
std::string_view Trim(std::string_view s) {
  return TrimRight(TrimLeft(s));
}

bool StartsWithFolded(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && Fold(s.substr(0, prefix.size())) == prefix;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hexadecimal digits, nothing else.
std::optional<DWORD> ParseHexNumber(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  DWORD n = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    n = (n << 4) | static_cast<DWORD>(d);
  }
  return n;
}

// A quoted text with \\ and \" escapes, `s` starting at the opening quote. Leaves `s` after
// the closing quote. Returns the reason when it cannot be read.
std::string ParseQuoted(std::string_view& s, std::string& out) {
  s.remove_prefix(1);
  while (!s.empty()) {
    const char c = s.front();
    s.remove_prefix(1);
    if (c == '"') return {};
    if (c == '\\') {
      if (s.empty()) break;
      if (s.front() != '\\' && s.front() != '"')
        return "unknown escape \\" + std::string(1, s.front());
      out += s.front();
      s.remove_prefix(1);
    } else {
      out += c;
    }
  }
  return "missing closing quote";
}

// Comma-separated bytes of two (or one) hexadecimal digits; a trailing comma is allowed.
std::string ParseHexBytes(std::string_view s, std::string& out) {
  s = Trim(s);
  while (!s.empty()) {
    const std::size_t comma = s.find(',');
    const std::string_view item = Trim(s.substr(0, comma));
    if (item.size() < 1 || item.size() > 2 || HexDigit(item[0]) < 0 ||
        (item.size() == 2 && HexDigit(item[1]) < 0))
      return "bad hexadecimal byte \"" + std::string(item) + "\"";
    out += static_cast<char>(*ParseHexNumber(item));
    if (comma == std::string_view::npos) break;
    s = TrimLeft(s.substr(comma + 1));
  }
  return {};
}

bool IsTextType(DWORD type) {
  return type == 1 || type == 2 || type == 7;
}

class Reader {
 public:
  Reader(Hive hive, Key& root, ReadResult& result, bool wideHexText)
      : hive_(hive), root_(root), result_(result), wideHexText_(wideHexText) {}

  void Read(const std::vector<std::string_view>& lines) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::string_view line = TrimLeft(lines[i]);
      const std::size_t number = i + 1;
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        KeyLine(line, number);
      } else if (line.front() == '"' || line.front() == '@') {
        std::string text(line);
        // Hex data goes on over lines ending in a backslash.
        const bool hex = IsHexData(line);
        while (hex) {
          const std::size_t kept = TrimRight(text).size();
          if (kept == 0 || text[kept - 1] != '\\') break;
          text.resize(kept - 1);
          if (i + 1 >= lines.size()) break;
          text += TrimLeft(lines[++i]);
        }
        ValueLine(text, number);
      } else {
        Skip(number, "not a key, value or comment line");
      }
    }
  }

 private:
  enum class State { NoKey, InKey, OtherRoot, Deleted, BadKey };

  void Skip(std::size_t number, std::string reason) {
    result_.skipped.push_back({number, std::move(reason)});
  }

  // Whether the data after the value's name is hex data, which may go on over lines.
  static bool IsHexData(std::string_view line) {
    std::string name;
    if (line.front() == '@')
      line.remove_prefix(1);
    else if (!ParseQuoted(line, name).empty())
      return false;
    line = TrimLeft(line);
    return !line.empty() && line.front() == '=' &&
           StartsWithFolded(TrimLeft(line.substr(1)), "hex");
  }

  void KeyLine(std::string_view line, std::size_t number) {
    state_ = State::BadKey;
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) return Skip(number, "key line without closing bracket");
    if (!Trim(line.substr(close + 1)).empty())
      return Skip(number, "text after the closing bracket");
    std::string_view path = line.substr(1, close - 1);
    const bool deletion = !path.empty() && path.front() == '-';
    if (deletion) path.remove_prefix(1);
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);

    const std::string_view rootName = path.substr(0, path.find('\\'));
    const RootName* root = nullptr;
    for (const RootName& r : kRoots)
      if (Fold(rootName) == Fold(r.full) || Fold(rootName) == Fold(r.abbreviation)) root = &r;
    if (root == nullptr) return Skip(number, "unknown root key \"" + std::string(rootName) + "\"");
    if (root->hive != hive_) {
      state_ = State::OtherRoot;
      return Skip(number, std::string(root->full) + " is not read from this file");
    }

    std::vector<std::string> parts;
    std::string_view rest = path.substr(rootName.size());
    while (!rest.empty()) {
      rest.remove_prefix(1);
      const std::string_view part = rest.substr(0, rest.find('\\'));
      if (part.empty()) return Skip(number, "empty key name in the path");
      if (part.size() > kMaxKeyNameLength) return Skip(number, "key name longer than 255");
      parts.push_back(Fold(part));
      rest.remove_prefix(part.size());
    }
    if (parts.size() > kMaxKeyDepth) return Skip(number, "key path deeper than 512");

    ++result_.keyLines;
    if (deletion) {
      if (parts.empty()) return Skip(number, "a root key cannot be deleted");
      Key* parent = &root_;
      for (std::size_t k = 0; k + 1 < parts.size() && parent; ++k) {
        auto it = parent->subkeys.find(parts[k]);
        parent = it == parent->subkeys.end() ? nullptr : it->second.get();
      }
      if (parent) parent->subkeys.erase(parts.back());
      state_ = State::Deleted;
      return;
    }
    Key* key = &root_;
    for (const std::string& part : parts) {
      std::unique_ptr<Key>& child = key->subkeys[part];
      if (!child) child = std::make_unique<Key>();
      key = child.get();
    }
    current_ = key;
    state_ = State::InKey;
  }

  void ValueLine(std::string_view line, std::size_t number) {
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (std::string why = ParseQuoted(line, name); !why.empty()) {
      return Skip(number, "value name: " + why);
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') return Skip(number, "missing \"=\" after the name");
    line = Trim(line.substr(1));

    std::optional<Value> value;  // none: a deletion
    if (line == "-") {
      // deletion
    } else if (!line.empty() && line.front() == '"') {
      value.emplace();
      value->type = 1;
      if (std::string why = ParseQuoted(line, value->data); !why.empty()) return Skip(number, why);
      if (!line.empty()) return Skip(number, "text after the closing quote");
      value->data += '\0';  // as regedit stores a text
    } else if (StartsWithFolded(line, "dword:")) {
      const auto n = ParseHexNumber(line.substr(6));
      if (!n) return Skip(number, "dword: needs 1 to 8 hexadecimal digits");
      value.emplace();
      value->type = 4;
      for (int b = 0; b < 4; ++b) value->data += static_cast<char>((*n >> (8 * b)) & 0xFF);
    } else if (StartsWithFolded(line, "hex")) {
      value.emplace();
      value->type = 3;
      line.remove_prefix(3);
      if (!line.empty() && line.front() == '(') {
        const std::size_t close = line.find(')');
        const auto type =
            ParseHexNumber(line.substr(1, close == line.npos ? line.npos : close - 1));
        if (close == line.npos || !type) return Skip(number, "hex(N): needs a hexadecimal type");
        value->type = *type;
        line.remove_prefix(close + 1);
      }
      if (line.empty() || line.front() != ':') return Skip(number, "missing \":\" after hex");
      if (std::string why = ParseHexBytes(line.substr(1), value->data); !why.empty())
        return Skip(number, why);
      if (wideHexText_ && IsTextType(value->type)) value->data = Utf16leToUtf8(value->data);
    } else {
      return Skip(number, "unknown value data");
    }

    switch (state_) {
      case State::InKey:
        break;
      case State::OtherRoot:
        return;  // its key line is listed already
      case State::NoKey:
        return Skip(number, "value outside a key");
      case State::Deleted:
        return Skip(number, "value under a deleted key");
      case State::BadKey:
        return Skip(number, "value under a skipped key line");
    }
    ++result_.valueLines;
    if (value)
      current_->values[Fold(name)] = std::move(*value);
    else
      current_->values.erase(Fold(name));
  }

  Hive hive_;
  Key& root_;
  ReadResult& result_;
  bool wideHexText_;
  State state_ = State::NoKey;
  Key* current_ = nullptr;
};

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (true) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
  return lines;
}

}  // namespace

std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

const Key* Key::Find(std::string_view path) const {
  const Key* key = this;
  while (key && !path.empty()) {
    const std::size_t slash = path.find('\\');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) {
      auto it = key->subkeys.find(Fold(part));
      key = it == key->subkeys.end() ? nullptr : it->second.get();
    }
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
  }
  return key;
}

const char* EncodingName(Encoding e) {
  switch (e) {
    case Encoding::Utf16le:
      return "UTF-16LE";
    case Encoding::Utf8:
      return "UTF-8";
    case Encoding::Ansi:
      return "ANSI";
  }
  return "";
}

ReadResult ReadRegFile(std::string_view bytes, Hive hive, Key& root) {
  ReadResult result;
  std::string text;
  bool oddByte = false;
  if (bytes.starts_with("\xFF\xFE")) {
    result.encoding = Encoding::Utf16le;
    oddByte = bytes.size() % 2 != 0;
    text = Utf16leToUtf8(bytes.substr(2));
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    result.encoding = Encoding::Utf8;
    text = bytes.substr(3);
  } else {
    text = bytes;
  }
  const std::vector<std::string_view> lines = SplitLines(text);
  result.header = Trim(lines.front());
  const bool version5 = result.header == kHeader5;
  if (!version5 && result.header != kHeader4) return result;
  result.registryFile = true;
  if (version5 && result.encoding == Encoding::Ansi) result.encoding = Encoding::Utf8;

  Reader(hive, root, result, version5).Read(lines);
  if (oddByte) result.skipped.push_back({lines.size(), "file ends inside a character"});
  return result;
}

}  // namespace oa::settings::regfile
