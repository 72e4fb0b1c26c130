// Registry export files for tests: written in a temp folder in one of the encodings regedit
// uses, with OA_REGISTRY_USER and OA_REGISTRY_MACHINE pointing at them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace oa::testing {

enum class RegFormat {
  Version5Utf16,  // "Windows Registry Editor Version 5.00", UTF-16LE with BOM (regedit, reg export)
  Version5Utf8,   // the same header, UTF-8 without BOM
  Regedit4,       // "REGEDIT4", ANSI bytes
};

// UTF-8 text as UTF-16LE bytes (BMP and supplementary characters).
std::string ToUtf16le(std::string_view utf8);

// The header line, the body lines as given (UTF-8), CR LF line ends, encoded for `format`.
std::string RegFileBytes(RegFormat format, std::string_view body);

// Text as the data of a hex(1)/hex(2)/hex(7) line: UTF-16LE in version 5, bytes in REGEDIT4.
std::string HexText(RegFormat format, std::string_view text);
// Bytes as a hex list: "01,ab,...".
std::string HexList(std::string_view bytes);

// Sets (or with null unsets) an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

class RegistryFilesTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void WriteUser(const std::string& bytes) { WriteFile(userPath(), bytes); }
  void WriteMachine(const std::string& bytes) { WriteFile(machinePath(), bytes); }
  static void WriteFile(const std::filesystem::path& path, const std::string& bytes);

  std::filesystem::path userPath() const { return dir_ / "user.reg"; }
  std::filesystem::path machinePath() const { return dir_ / "machine.reg"; }
  const std::filesystem::path& dir() const { return dir_; }
  // The two files, as the program's configuration names them.
  settings::RegistryFiles files() const { return {userPath().string(), machinePath().string()}; }

 private:
  std::filesystem::path dir_;
  std::optional<ScopedEnv> user_, machine_;
};

}  // namespace oa::testing
