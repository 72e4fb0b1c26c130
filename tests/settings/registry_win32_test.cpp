// The boxes at load and --check-registry against the system's own registry: values put in by
// reg.exe in the 32-bit view, as the 32-bit tools that own these keys write them. The keys are
// the program's real ones, so these tests run one at a time and leave both keys removed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/form.h"
#include "tests/nowindow/child_process.h"
#include "tests/nowindow/temp_files.h"
#include "tests/support/recording_console.h"

namespace oa::testing {

using console::ActivityLog;
using console::Control;
using console::Form;

namespace {

const std::string kAdmin = "HKCU\\Software\\ondavel\\Tessel Admin\\Settings";
const std::string kAgent = "HKLM\\Software\\ondavel\\ondavelAgent";
const std::string kUserLine =
    "User HKEY_CURRENT_USER\\Software\\ondavel\\Tessel Admin\\Settings (32-bit view): ";
const std::string kMachineLine =
    "Machine HKEY_LOCAL_MACHINE\\Software\\ondavel\\ondavelAgent (32-bit view): ";

class WindowsRegistryTest : public ::testing::Test {
 protected:
  WindowsRegistryTest() { Clear(); }
  ~WindowsRegistryTest() override { Clear(); }

  static void Clear() {
    for (const char* view : {"/reg:32", "/reg:64"}) {
      RunProgram({"reg", "delete", kAdmin, "/f", view});
      RunProgram({"reg", "delete", kAgent, "/f", view});
    }
  }
  static void Reg(std::vector<std::string> args) {
    args.insert(args.begin(), "reg");
    const ChildResult r = RunProgram(args);
    ASSERT_EQ(r.status, 0) << args[1] << " " << args[2] << ": " << r.out << r.err;
  }
  static void Add(const std::string& key, const std::string& name, const std::string& type,
                  const std::string& data, const std::string& view = "/reg:32") {
    Reg({"add", key, "/v", name, "/t", type, "/d", data, "/f", view});
  }
  // Values reg add cannot make (text without its NUL, or with two) come from an export file
  // (ASCII only).
  void Import(const std::string& keyLine, const std::string& values) {
    const std::string file = dir / "values.reg";
    // In UTF-16, as regedit writes it: from an ANSI file hex(1) bytes would be taken as ANSI
    // characters and widened.
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n[" + keyLine + "]\r\n" + values;
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string{c, '\0'};
    WriteFile(file, utf16);
    Reg({"import", file, "/reg:32"});
  }
  RecordingConsole Load() {
    RecordingConsole console;
    console.texts[Control::txtExServer] = "stale";
    console.texts[Control::txtAlias] = "stale";
    Form form(console, ActivityLog(dir / "OA-Cleanup.log"));
    form.Form_Load({});
    EXPECT_TRUE(console.msgBoxes.empty());
    EXPECT_TRUE(console.results.empty());
    return console;
  }
  static ChildResult CheckRegistry() { return RunProgram({OA_CLEANUP_BIN, "--check-registry"}); }

  TempDir dir;
};

TEST_F(WindowsRegistryTest, TextsAsStoredWithOneNulRemoved) {
  Add(kAdmin, "ExServer", "REG_SZ", "mail.example.com");
  // "jdoe" without a NUL, then "ab" with two.
  Import("HKEY_CURRENT_USER\\Software\\ondavel\\Tessel Admin\\Settings",
         "\"ExAlias\"=hex(1):6a,00,64,00,6f,00,65,00\r\n");
  RecordingConsole c = Load();
  EXPECT_EQ(c.texts[Control::txtExServer], "mail.example.com");
  EXPECT_EQ(c.texts[Control::txtAlias], "jdoe");
  ChildResult r = CheckRegistry();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kUserLine + "found\n" +
                       "  ExServer: REG_SZ, read as \"mail.example.com\"\n"
                       "  ExAlias: REG_SZ, read as \"jdoe\"\n" +
                       kMachineLine + "missing (no settings)\n");

  Import("HKEY_CURRENT_USER\\Software\\ondavel\\Tessel Admin\\Settings",
         "\"ExAlias\"=hex(1):61,00,62,00,00,00,00,00\r\n");
  EXPECT_EQ(Load().texts[Control::txtAlias], std::string("ab\0", 3));
}

TEST_F(WindowsRegistryTest, ExpandTextUnexpandedNegativeDwordNonAsciiText) {
  Add(kAdmin, "ExServer", "REG_EXPAND_SZ", "%USERPROFILE%\\mail");
  Add(kAdmin, "ExAlias", "REG_DWORD", "0xfffffffb");
  RecordingConsole c = Load();
  EXPECT_EQ(c.texts[Control::txtExServer], "%USERPROFILE%\\mail");
  EXPECT_EQ(c.texts[Control::txtAlias], "-5");
  ChildResult r = CheckRegistry();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  ExServer: REG_EXPAND_SZ, read as \"%USERPROFILE%\\mail\"\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  ExAlias: REG_DWORD, read as \"-5\"\n"), std::string::npos) << r.out;

  // Texts outside the ANSI code page arrive whole, in UTF-8.
  Add(kAdmin, "ExAlias", "REG_SZ", "Jürgen.Weiß-Ωμέγα");
  EXPECT_EQ(Load().texts[Control::txtAlias], "Jürgen.Weiß-Ωμέγα");
}

TEST_F(WindowsRegistryTest, BinaryOf255BytesReadLongerNot) {
  std::string bytes, shown;
  for (int i = 0; i < 255; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", i);
    bytes += hex;
    shown += (i ? " " : "") + std::string(hex);
  }
  Add(kAdmin, "ExServer", "REG_BINARY", bytes);
  Add(kAdmin, "ExAlias", "REG_BINARY", bytes + "FF");
  Add(kAgent, "ExAlias", "REG_SZ", "agent-alias");
  RecordingConsole c = Load();
  EXPECT_EQ(c.texts[Control::txtExServer], shown);
  // 256 bytes give the admin source nothing: the agent's value fills the box.
  EXPECT_EQ(c.texts[Control::txtAlias], "agent-alias");
  ChildResult r = CheckRegistry();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("  ExServer: REG_BINARY of 255 bytes, read as \"00 01 02 "),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  ExAlias: REG_BINARY of 256 bytes, not read: longer than 255 bytes\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(kMachineLine + "found\n  ExServer: not set\n"
                                      "  ExAlias: REG_SZ, read as \"agent-alias\"\n"),
            std::string::npos)
      << r.out;
}

TEST_F(WindowsRegistryTest, AdminSourceFirstEmptyTextFallsBackOnly32BitViewRead) {
  Add(kAdmin, "ExServer", "REG_SZ", "admin-server");
  Add(kAdmin, "ExAlias", "REG_SZ", "");
  Add(kAgent, "ExServer", "REG_SZ", "agent-server");
  Add(kAgent, "ExAlias", "REG_SZ", "agent-alias");
  RecordingConsole c = Load();
  EXPECT_EQ(c.texts[Control::txtExServer], "admin-server");
  EXPECT_EQ(c.texts[Control::txtAlias], "agent-alias");
  ChildResult r = CheckRegistry();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  ExAlias: REG_SZ, read as \"\" (empty: counts as not set)\n"),
            std::string::npos)
      << r.out;

  // The agent's key in the 64-bit view only is not the one the agent writes: not read.
  Clear();
  Add(kAgent, "ExServer", "REG_SZ", "64-bit-server", "/reg:64");
  c = Load();
  EXPECT_EQ(c.texts[Control::txtExServer], "");
  r = CheckRegistry();
  EXPECT_NE(r.out.find(kMachineLine + "missing (no settings)\n"), std::string::npos) << r.out;
}

TEST_F(WindowsRegistryTest, NoKeysLeaveBoxesEmptyWithoutAMessage) {
  RecordingConsole c = Load();
  EXPECT_EQ(c.texts[Control::txtExServer], "");
  EXPECT_EQ(c.texts[Control::txtAlias], "");
  const ChildResult r = CheckRegistry();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            kUserLine + "missing (no settings)\n" + kMachineLine + "missing (no settings)\n");
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace oa::testing
