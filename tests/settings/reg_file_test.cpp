// The registry export file reader: syntax, file order and skipped lines.
#include "settings/reg_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/settings/reg_files.h"

namespace oa::settings::regfile {
namespace {

using testing::RegFileBytes;
using testing::RegFormat;

struct Parsed {
  Key root;
  ReadResult result;
};

Parsed Parse(const std::string& bytes, Hive hive = Hive::CurrentUser) {
  Parsed p;
  p.result = ReadRegFile(bytes, hive, p.root);
  return p;
}

// The data of a value, or "<none>".
std::string Data(const Key& root, std::string_view key, std::string_view name) {
  const Key* k = root.Find(key);
  if (!k) return "<no key>";
  auto it = k->values.find(Fold(name));
  return it == k->values.end() ? "<none>" : it->second.data;
}

std::string Skipped(const ReadResult& r) {
  std::string out;
  for (const SkippedLine& s : r.skipped) out += std::to_string(s.line) + ": " + s.reason + "\n";
  return out;
}

TEST(RegFileTest, DeletionsAppliedInFileOrder) {
  const Parsed p = Parse(RegFileBytes(RegFormat::Version5Utf16,
                                      "[HKEY_CURRENT_USER\\A\\B]\n\"Gone\"=\"1\"\n"
                                      "[-HKEY_CURRENT_USER\\A]\n"
                                      "[HKEY_CURRENT_USER\\A]\n\"Kept\"=\"2\"\n\"Kept\"=-\n"
                                      "\"Back\"=-\n\"Back\"=\"3\"\n"
                                      "[-HKEY_CURRENT_USER\\Never\\There]\n"
                                      "[HKEY_CURRENT_USER\\C]\n@=\"d\"\n@=-\n"));
  EXPECT_EQ(p.root.Find("A\\B"), nullptr);
  EXPECT_EQ(Data(p.root, "A", "Kept"), "<none>");
  EXPECT_EQ(Data(p.root, "A", "Back"), std::string("3\0", 2));
  EXPECT_EQ(Data(p.root, "C", ""), "<none>");
  EXPECT_EQ(Skipped(p.result), "");
  EXPECT_EQ(p.result.keyLines, 5u);
  EXPECT_EQ(p.result.valueLines, 7u);
}

TEST(RegFileTest, ContinuationsEscapesCommentsAndLineEnds) {
  const std::string file =
      "REGEDIT4\n"
      "; a comment\n"
      "[HKEY_CURRENT_USER\\A]\r\n"
      "\"Hex\"=hex:01,02,\\\n"
      "    03,04,\\\r\n"
      "  05\n"
      "\"Path\"=\"C:\\\\Temp\\\\\"\n"
      "\"Quote\"=\"say \\\"hi\\\"\"\n"
      "\"na\\\"me\"=\"v\"\n"
      "  \"Indented\" = dword:1  \n"
      "\"Bad\"=\"C:\\Temp\"\n";
  const Parsed p = Parse(file);
  EXPECT_EQ(Data(p.root, "A", "Hex"), "\x01\x02\x03\x04\x05");
  EXPECT_EQ(Data(p.root, "A", "Path"), std::string("C:\\Temp\\\0", 9));
  EXPECT_EQ(Data(p.root, "A", "Quote"), std::string("say \"hi\"\0", 9));
  EXPECT_EQ(Data(p.root, "A", "na\"me"), std::string("v\0", 2));
  EXPECT_EQ(Data(p.root, "A", "indented"), std::string("\x01\0\0\0", 4));
  EXPECT_EQ(Data(p.root, "A", "Bad"), "<none>");
  EXPECT_EQ(Skipped(p.result), "11: unknown escape \\T\n");
}

TEST(RegFileTest, AbbreviationsCaseAndRootsOfOtherFiles) {
  const Parsed user = Parse(RegFileBytes(RegFormat::Version5Utf8,
                                         "[hkcu\\Software\\MiXed]\n\"V\"=\"1\"\n"
                                         "[HKLM\\Software\\MiXed]\n\"W\"=\"2\"\n"
                                         "[HKEY_CLASSES_ROOT\\x]\n\"X\"=\"3\"\n"
                                         "[HKEY_current_user\\SOFTWARE\\mixed]\n\"v\"=\"4\"\n"));
  EXPECT_EQ(Data(user.root, "software\\mixed", "V"), std::string("4\0", 2));
  EXPECT_EQ(Data(user.root, "software\\mixed", "W"), "<none>");
  EXPECT_EQ(Skipped(user.result),
            "5: HKEY_LOCAL_MACHINE is not read from this file\n"
            "7: HKEY_CLASSES_ROOT is not read from this file\n");
  const Parsed machine = Parse(RegFileBytes(RegFormat::Regedit4,
                                            "[HKLM\\Software\\MiXed]\n\"W\"=\"2\"\n"
                                            "[HKEY_CURRENT_USER\\Software\\MiXed]\n\"V\"=\"1\"\n"),
                               Hive::LocalMachine);
  EXPECT_EQ(Data(machine.root, "Software\\Mixed", "w"), std::string("2\0", 2));
  EXPECT_EQ(Data(machine.root, "Software\\Mixed", "V"), "<none>");
}

TEST(RegFileTest, MalformedLinesListedWithNumbersRestRead) {
  const Parsed p = Parse(RegFileBytes(RegFormat::Version5Utf16,
                                      "\"Early\"=\"x\"\n"              // 3
                                      "[HKEY_CURRENT_USER\\A\n"        // 4
                                      "\"UnderBad\"=\"x\"\n"           // 5
                                      "[HKEY_NOWHERE\\A]\n"            // 6
                                      "[HKEY_CURRENT_USER\\A\\\\B]\n"  // 7
                                      "[HKEY_CURRENT_USER\\A] junk\n"  // 8
                                      "[HKEY_CURRENT_USER\\A]\n"       // 9
                                      "garbage\n"                      // 10
                                      "\"NoEquals\" \"x\"\n"           // 11
                                      "\"Open\"=\"x\n"                 // 12
                                      "\"T\"=\"x\" y\n"                // 13
                                      "\"D\"=dword:123456789\n"        // 14
                                      "\"H\"=hex:1,zz\n"               // 15
                                      "\"N\"=hex(q):00\n"              // 16
                                      "\"C\"=hex(2)00\n"               // 17
                                      "\"U\"=str:x\n"                  // 18
                                      "\"Good\"=\"yes\"\n"             // 19
                                      "[-HKEY_CURRENT_USER]\n"         // 20
                                      "[-HKEY_CURRENT_USER\\A]\n"      // 21
                                      "\"AfterDelete\"=\"x\"\n"));     // 22
  EXPECT_EQ(Skipped(p.result),
            "3: value outside a key\n"
            "4: key line without closing bracket\n"
            "5: value under a skipped key line\n"
            "6: unknown root key \"HKEY_NOWHERE\"\n"
            "7: empty key name in the path\n"
            "8: text after the closing bracket\n"
            "10: not a key, value or comment line\n"
            "11: missing \"=\" after the name\n"
            "12: missing closing quote\n"
            "13: text after the closing quote\n"
            "14: dword: needs 1 to 8 hexadecimal digits\n"
            "15: bad hexadecimal byte \"zz\"\n"
            "16: hex(N): needs a hexadecimal type\n"
            "17: missing \":\" after hex\n"
            "18: unknown value data\n"
            "20: a root key cannot be deleted\n"
            "22: value under a deleted key\n");
  EXPECT_EQ(p.root.Find("A"), nullptr);
}

TEST(RegFileTest, HeadersAndEncodings) {
  EXPECT_EQ(Parse(RegFileBytes(RegFormat::Version5Utf16, "")).result.encoding, Encoding::Utf16le);
  EXPECT_EQ(Parse(RegFileBytes(RegFormat::Version5Utf8, "")).result.encoding, Encoding::Utf8);
  EXPECT_EQ(Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n").result.encoding,
            Encoding::Utf8);
  const Parsed v4 = Parse(RegFileBytes(RegFormat::Regedit4, "[HKCU\\A]\n\"V\"=\"1\"\n"));
  EXPECT_TRUE(v4.result.registryFile);
  EXPECT_EQ(v4.result.encoding, Encoding::Ansi);
  EXPECT_EQ(v4.result.header, "REGEDIT4");

  const Parsed notReg = Parse("[HKEY_CURRENT_USER\\A]\n\"V\"=\"1\"\n");
  EXPECT_FALSE(notReg.result.registryFile);
  EXPECT_EQ(notReg.root.Find("A"), nullptr);
  EXPECT_FALSE(Parse("").result.registryFile);
  EXPECT_FALSE(Parse("\xFF\xFE").result.registryFile);
}

TEST(RegFileTest, KeyNameLimits) {
  const std::string longName(256, 'k');
  const Parsed p = Parse(RegFileBytes(
      RegFormat::Regedit4, "[HKCU\\" + longName + "]\n[HKCU\\" + std::string(255, 'k') + "]\n"));
  EXPECT_EQ(Skipped(p.result), "3: key name longer than 255\n");
  EXPECT_NE(p.root.Find(std::string(255, 'K')), nullptr);
  std::string deep = "[HKCU";
  for (int i = 0; i < 513; ++i) deep += "\\k";
  EXPECT_EQ(Skipped(Parse(RegFileBytes(RegFormat::Regedit4, deep + "]\n")).result),
            "3: key path deeper than 512\n");
}

}  // namespace
}  // namespace oa::settings::regfile
