// The reader of registry export files as regedit and `reg export` write them, for the systems
// without a registry of their own. Keys and values land in a tree kept in memory.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/registry_api.h"

namespace oa::settings::regfile {

// Data as RegQueryValueExA hands it out: text types in the system code page (UTF-8 here).
struct Value {
  DWORD type = 0;
  std::string data;
};

// A key with its subkeys and values; names are matched without regard to case.
struct Key {
  std::map<std::string, std::unique_ptr<Key>> subkeys;  // by folded name
  std::map<std::string, Value> values;                  // by folded name; "" is the default value

  // The key at a backslash-separated path below this one; null when it does not exist.
  const Key* Find(std::string_view path) const;
};

// The case folding of key and value names (ASCII letters).
std::string Fold(std::string_view name);

enum class Hive { CurrentUser, LocalMachine };
enum class Encoding { Utf16le, Utf8, Ansi };
const char* EncodingName(Encoding e);

struct SkippedLine {
  std::size_t line = 0;
  std::string reason;
};

struct ReadResult {
  bool registryFile = false;  // the first line is a known header
  Encoding encoding = Encoding::Ansi;
  std::string header;  // the header line as found
  std::vector<SkippedLine> skipped;
  std::size_t keyLines = 0;    // key lines applied, deletions included
  std::size_t valueLines = 0;  // value lines applied, deletions included
};

// Applies the file's keys of `hive` to `root`, in file order. A line that cannot be read, or
// names another root, is skipped and listed; the rest of the file is still read.
ReadResult ReadRegFile(std::string_view bytes, Hive hive, Key& root);

}  // namespace oa::settings::regfile
