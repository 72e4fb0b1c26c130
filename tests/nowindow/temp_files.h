// Temporary directories and whole-file reads and writes for the window-less tests.
#pragma once

#include <filesystem>
#include <string>

namespace oa::testing {

// A fresh directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // With the system's separators throughout, as the program's own paths have them.
  std::string operator/(const std::string& name) const {
    return (path_ / name).make_preferred().string();
  }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

}  // namespace oa::testing
