// The boxes filled at load from real registry export files, in each encoding regedit writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "console/form.h"
#include "settings/check_registry.h"
#include "tests/settings/reg_files.h"
#include "tests/support/recording_console.h"

namespace oa::testing {

using console::ActivityLog;
using console::Control;
using console::Form;

namespace {

const char* kAdminKey = "[HKEY_CURRENT_USER\\Software\\ondavel\\Tessel Admin\\Settings]\n";
const char* kAgentKey = "[HKEY_LOCAL_MACHINE\\Software\\ondavel\\ondavelAgent]\n";

class FormLoadTest : public RegistryFilesTest, public ::testing::WithParamInterface<RegFormat> {
 protected:
  RegFormat format() const { return GetParam(); }
  void Admin(const std::string& values) { WriteUser(RegFileBytes(format(), kAdminKey + values)); }
  void Agent(const std::string& values) {
    WriteMachine(RegFileBytes(format(), kAgentKey + values));
  }
  // Loads a window and returns it with its boxes.
  RecordingConsole Load() {
    RecordingConsole console;
    console.texts[Control::txtExServer] = "stale";
    console.texts[Control::txtAlias] = "stale";
    Form form(console, ActivityLog((dir() / "OA-Cleanup.log").string()));
    form.Form_Load(files());
    EXPECT_TRUE(console.msgBoxes.empty());
    EXPECT_TRUE(console.results.empty());
    EXPECT_FALSE(std::filesystem::exists(dir() / "OA-Cleanup.log"));
    return console;
  }
  std::string Server(RecordingConsole& c) { return c.texts[Control::txtExServer]; }
  std::string Alias(RecordingConsole& c) { return c.texts[Control::txtAlias]; }
};

TEST_P(FormLoadTest, AdminSourceWinsOverAgentSource) {
  Admin("\"ExServer\"=\"exch-admin\"\n\"ExAlias\"=\"jdoe\"\n");
  Agent("\"ExServer\"=\"exch-agent\"\n\"ExAlias\"=\"agent\"\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "exch-admin");
  EXPECT_EQ(Alias(c), "jdoe");
}

TEST_P(FormLoadTest, EmptyAdminTextFallsBackToAgentSource) {
  Admin("\"ExServer\"=\"\"\n\"ExAlias\"=hex(1):" + HexText(format(), std::string(1, '\0')) + "\n");
  Agent("\"ExServer\"=\"exch-agent\"\n\"ExAlias\"=\"agent@example.org\"\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "exch-agent");
  EXPECT_EQ(Alias(c), "agent@example.org");
}

TEST_P(FormLoadTest, EachBoxFromItsOwnSource) {
  Admin("\"ExServer\"=\"exch-admin\"\n");
  Agent("\"ExServer\"=\"exch-agent\"\n\"ExAlias\"=\"agent\"\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "exch-admin");
  EXPECT_EQ(Alias(c), "agent");
}

TEST_P(FormLoadTest, TextWithoutNulKeptWholeAndTwoNulsLeaveOne) {
  Admin("\"ExServer\"=hex(1):" + HexText(format(), "exch01") +
        "\n\"ExAlias\"=hex(2):" + HexText(format(), std::string("jdoe\0\0", 6)) + "\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "exch01");
  EXPECT_EQ(Alias(c), std::string("jdoe\0", 5));
}

TEST_P(FormLoadTest, DwordIsSignedDecimal) {
  Admin("\"ExServer\"=dword:ffffff85\n\"ExAlias\"=dword:00000000\n");
  Agent("\"ExAlias\"=\"agent\"\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "-123");
  EXPECT_EQ(Alias(c), "0");  // a number is never the empty text
}

TEST_P(FormLoadTest, ExpandTextNotExpanded) {
  setenv("OA_TEST_SERVER", "expanded", 1);
  Admin("\"ExServer\"=hex(2):" + HexText(format(), std::string("%OA_TEST_SERVER%\0", 17)) + "\n");
  RecordingConsole c = Load();
  unsetenv("OA_TEST_SERVER");
  EXPECT_EQ(Server(c), "%OA_TEST_SERVER%");
}

TEST_P(FormLoadTest, BinaryAsUpperCaseHexPairs) {
  Admin("\"ExServer\"=hex:01,ab,0c\n\"ExAlias\"=hex:\n");
  Agent("\"ExAlias\"=\"agent\"\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "01 AB 0C");
  EXPECT_EQ(Alias(c), "agent");  // no bytes: empty text
}

TEST_P(FormLoadTest, BinaryOf255BytesReadLongerNot) {
  const std::string b255(255, '\xab');
  Admin("\"ExServer\"=hex:" + HexList(b255) + "\n\"ExAlias\"=hex:" + HexList(b255 + "\x01") + "\n");
  Agent("\"ExAlias\"=\"agent\"\n");
  RecordingConsole c = Load();
  std::string expected = "AB";
  for (int i = 1; i < 255; ++i) expected += " AB";
  EXPECT_EQ(Server(c), expected);
  EXPECT_EQ(Alias(c), "agent");
}

TEST_P(FormLoadTest, OtherTypesGiveNoValue) {
  Admin("\"ExServer\"=hex(7):" + HexText(format(), std::string("a\0b\0\0", 5)) +
        "\n\"ExAlias\"=hex(b):01,00,00,00,00,00,00,00\n");
  Agent("\"ExServer\"=\"exch-agent\"\n\"ExAlias\"=\"agent\"\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "exch-agent");
  EXPECT_EQ(Alias(c), "agent");
}

TEST_P(FormLoadTest, MissingKeysAndValuesLeaveBoxesEmpty) {
  Admin("\"Other\"=\"x\"\n");
  WriteMachine(
      RegFileBytes(format(), "[HKEY_LOCAL_MACHINE\\Software\\ondavel]\n\"ExServer\"=\"x\"\n"));
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "");
  EXPECT_EQ(Alias(c), "");
}

TEST_P(FormLoadTest, GarbageLinesSkippedRestRead) {
  Admin(
      "this is not a registry line\n\"ExServer\"=\"exch-admin\"\n\"broken=\"x\n"
      "\"ExAlias\"=dword:nothex\n[HKEY_CURRENT_USER\\Software\n\x01\x02\x7f\n");
  Agent("\"ExAlias\"=\"agent\"\n@@@@\n");
  RecordingConsole c = Load();
  EXPECT_EQ(Server(c), "exch-admin");
  EXPECT_EQ(Alias(c), "agent");
}

TEST_P(FormLoadTest, NonAsciiTextInSystemCodePage) {
  Admin("\"ExServer\"=\"exch-z\xC3\xBCrich\"\n");
  RecordingConsole c = Load();
  // Version 5 text is converted to UTF-8; REGEDIT4 bytes are taken as they are.
  EXPECT_EQ(Server(c), "exch-z\xC3\xBCrich");
}

INSTANTIATE_TEST_SUITE_P(Encodings, FormLoadTest,
                         ::testing::Values(RegFormat::Version5Utf16, RegFormat::Version5Utf8,
                                           RegFormat::Regedit4),
                         [](const auto& info) {
                           switch (info.param) {
                             case RegFormat::Version5Utf16:
                               return std::string("Version5Utf16");
                             case RegFormat::Version5Utf8:
                               return std::string("Version5Utf8");
                             case RegFormat::Regedit4:
                               return std::string("Regedit4");
                           }
                           return std::string();
                         });

class FormLoadFilesTest : public RegistryFilesTest {};

TEST_F(FormLoadFilesTest, NoFilesAtAllLeaveBoxesEmpty) {
  RecordingConsole console;
  Form form(console, ActivityLog((dir() / "OA-Cleanup.log").string()));
  form.Form_Load(files());
  EXPECT_EQ(console.texts[Control::txtExServer], "");
  EXPECT_EQ(console.texts[Control::txtAlias], "");
  EXPECT_TRUE(console.msgBoxes.empty());
}

TEST_F(FormLoadFilesTest, TruncatedUtf16FileKeepsWhatWasWhole) {
  std::string bytes = RegFileBytes(
      RegFormat::Version5Utf16,
      std::string(kAdminKey) + "\"ExServer\"=\"exch-admin\"\n\"ExAlias\"=\"jdoe-long-alias\"\n");
  // Cut inside "jdoe": an odd number of bytes, the closing quote lost.
  bytes.resize(bytes.find(ToUtf16le("doe-long")) + 3);
  WriteUser(bytes);
  WriteMachine(
      RegFileBytes(RegFormat::Version5Utf16, std::string(kAgentKey) + "\"ExAlias\"=\"agent\"\n"));
  RecordingConsole console;
  Form form(console, ActivityLog((dir() / "OA-Cleanup.log").string()));
  form.Form_Load(files());
  EXPECT_EQ(console.texts[Control::txtExServer], "exch-admin");
  EXPECT_EQ(console.texts[Control::txtAlias], "agent");
}

TEST_F(FormLoadFilesTest, RootInTheWrongFileIgnored) {
  // The agent's key in the user file and the admin key in the machine file count for nothing.
  WriteUser(RegFileBytes(RegFormat::Version5Utf16,
                         std::string(kAgentKey) + "\"ExServer\"=\"wrong-user\"\n"));
  WriteMachine(RegFileBytes(RegFormat::Regedit4,
                            std::string(kAdminKey) + "\"ExAlias\"=\"wrong-machine\"\n"));
  RecordingConsole console;
  Form form(console, ActivityLog((dir() / "OA-Cleanup.log").string()));
  form.Form_Load(files());
  EXPECT_EQ(console.texts[Control::txtExServer], "");
  EXPECT_EQ(console.texts[Control::txtAlias], "");
}

TEST_F(FormLoadFilesTest, TheFilesGivenAreReadNotThoseTheVariablesName) {
  WriteUser(RegFileBytes(RegFormat::Version5Utf8,
                         std::string(kAdminKey) + "\"ExServer\"=\"from-variable\"\n"));
  const settings::RegistryFiles configured{(dir() / "configured-user.reg").string(),
                                           (dir() / "configured-machine.reg").string()};
  WriteFile(configured.user,
            RegFileBytes(RegFormat::Version5Utf16,
                         std::string(kAdminKey) + "\"ExServer\"=\"configured\"\n"));
  WriteFile(configured.machine,
            RegFileBytes(RegFormat::Regedit4, std::string(kAgentKey) + "\"ExAlias\"=\"agent\"\n"));
  RecordingConsole console;
  Form form(console, ActivityLog((dir() / "OA-Cleanup.log").string()));
  form.Form_Load(configured);
  EXPECT_EQ(console.texts[Control::txtExServer], "configured");
  EXPECT_EQ(console.texts[Control::txtAlias], "agent");

  std::ostringstream out;
  EXPECT_EQ(settings::CheckRegistry(out, configured), 0);
  EXPECT_NE(out.str().find("registry file " + configured.user + ": found"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("registry file " + configured.machine + ": found"), std::string::npos)
      << out.str();
  EXPECT_EQ(out.str().find(userPath().string()), std::string::npos) << out.str();
}

}  // namespace
}  // namespace oa::testing
