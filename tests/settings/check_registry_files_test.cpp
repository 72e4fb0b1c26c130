// --check-registry where the settings come from registry export files: each file, its
// encoding and header, and every skipped line with its number and reason.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "settings/check_registry.h"
#include "tests/settings/reg_files.h"

namespace oa::settings::regfile {
namespace {

using testing::RegFileBytes;
using testing::RegFormat;

class CheckRegistryTest : public testing::RegistryFilesTest {
 protected:
  int CheckRegistry(std::ostream& out) { return settings::CheckRegistry(out, files()); }
};

TEST_F(CheckRegistryTest, PrintsEachFileAndEachSkippedLine) {
  WriteUser(RegFileBytes(RegFormat::Version5Utf16,
                         "[HKEY_CURRENT_USER\\Software\\ondavel\\Tessel Admin\\Settings]\n"
                         "\"ExServer\"=\"exch\"\n"
                         "\"ExAlias\"=\"jdoe\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\ondavel\\ondavelAgent]\n"));
  std::ostringstream out;
  EXPECT_EQ(CheckRegistry(out), 1);
  EXPECT_EQ(out.str(),
            "User (HKEY_CURRENT_USER) registry file " + userPath().string() +
                ": found, UTF-16LE, Windows Registry Editor Version 5.00, 1 key lines, 1 value "
                "lines read\n"
                "  line 5 skipped: missing closing quote\n"
                "  line 6 skipped: HKEY_LOCAL_MACHINE is not read from this file\n"
                "Machine (HKEY_LOCAL_MACHINE) registry file " +
                machinePath().string() + ": missing (no settings)\n");
}

TEST_F(CheckRegistryTest, CleanFilesAndFilesThatAreNotRegistryFiles) {
  WriteUser(RegFileBytes(RegFormat::Regedit4, "[HKCU\\A]\n\"V\"=dword:1\n"));
  WriteMachine("not a registry file\n");
  std::ostringstream out;
  EXPECT_EQ(CheckRegistry(out), 1);
  EXPECT_EQ(out.str(),
            "User (HKEY_CURRENT_USER) registry file " + userPath().string() +
                ": found, ANSI, REGEDIT4, 1 key lines, 1 value lines read\n"
                "Machine (HKEY_LOCAL_MACHINE) registry file " +
                machinePath().string() +
                ": found, ANSI, not a registry export file: the first line is neither \"Windows "
                "Registry Editor Version 5.00\" nor \"REGEDIT4\" (no settings)\n");
  WriteMachine(RegFileBytes(RegFormat::Version5Utf8, "[HKLM\\A]\n"));
  std::ostringstream clean;
  EXPECT_EQ(CheckRegistry(clean), 0);
  EXPECT_NE(clean.str().find(": found, UTF-8, Windows Registry Editor Version 5.00, 1 key lines, "
                             "0 value lines read\n"),
            std::string::npos);
}

TEST_F(CheckRegistryTest, TruncatedUtf16FileReported) {
  std::string bytes = RegFileBytes(RegFormat::Version5Utf16, "[HKCU\\A]\n\"V\"=\"1\"\n");
  bytes.pop_back();
  WriteUser(bytes);
  std::ostringstream out;
  EXPECT_EQ(CheckRegistry(out), 1);
  EXPECT_NE(out.str().find("  line 4 skipped: file ends inside a character\n"), std::string::npos)
      << out.str();
}

}  // namespace
}  // namespace oa::settings::regfile
