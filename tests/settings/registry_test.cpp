// basRegistry and the registry calls over registry export files.
#include <gtest/gtest.h>

#include <string>

#include "settings/basRegistry.h"
#include "settings/registry_api.h"
#include "tests/settings/reg_files.h"

namespace oa::settings {
namespace {

using testing::HexList;
using testing::HexText;
using testing::RegFileBytes;
using testing::RegFormat;

class RegistryTest : public testing::RegistryFilesTest {
 protected:
  void SetUp() override {
    RegistryFilesTest::SetUp();
    WriteUser(RegFileBytes(RegFormat::Version5Utf16,
                           "[HKEY_CURRENT_USER\\Software\\Test]\n"
                           "@=\"default\"\n"
                           "\"Text\"=\"abc\"\n"
                           "\"Dword\"=dword:0000002a\n"
                           "\"LongDword\"=hex(4):01,00,00,00,00,00,00,00\n"
                           "\"ShortDword\"=hex(4):05,01\n"
                           "\"Bin\"=hex:00,ff,10\n"
                           "\"BigBin\"=hex:" +
                               HexList(std::string(256, '\x01')) +
                               "\n"
                               "\"Multi\"=hex(7):" +
                               HexText(RegFormat::Version5Utf16, std::string("a\0\0", 3)) +
                               "\n"
                               "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\n"
                               "\"Type99\"=hex(99):01\n"
                               "\"EmptySz\"=hex(1):\n"));
  }
  HKEY Open(const char* path = "Software\\Test") {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyA(kHKeyCurrentUser, path, &key), kErrorSuccess);
    return key;
  }
};

TEST_F(RegistryTest, QueryRegValueStatusesAndOutputs) {
  const HKEY key = Open();
  Variant v = Variant::String("kept");
  EXPECT_EQ(QueryRegValue(key, "Missing", v), kErrorFileNotFound);
  EXPECT_EQ(v, Variant::String("kept"));
  EXPECT_EQ(QueryRegValue(0, "Text", v), kErrorInvalidHandle);
  EXPECT_EQ(v, Variant::String("kept"));
  EXPECT_EQ(QueryRegValue(key, "LongDword", v), kErrorMoreData);
  EXPECT_EQ(v, Variant::String("kept"));
  EXPECT_EQ(QueryRegValue(key, "Multi", v), -1);
  EXPECT_EQ(QueryRegValue(key, "Qword", v), -1);
  EXPECT_EQ(QueryRegValue(key, "Type99", v), -1);
  EXPECT_EQ(v, Variant::String("kept"));

  EXPECT_EQ(QueryRegValue(key, "BigBin", v), kErrorMoreData);
  EXPECT_EQ(v, Variant());
  EXPECT_EQ(QueryRegValue(key, "Text", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::String(std::string("abc\0", 4)));
  EXPECT_EQ(QueryRegValue(key, "", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::String(std::string("default\0", 8)));
  EXPECT_EQ(QueryRegValue(key, "Dword", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::Long(42));
  EXPECT_EQ(QueryRegValue(key, "ShortDword", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::Long(0x105));
  EXPECT_EQ(QueryRegValue(key, "Bin", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::String("00 FF 10"));
  EXPECT_EQ(QueryRegValue(key, "EmptySz", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::String(""));
  EXPECT_EQ(RegCloseKey(key), kErrorSuccess);
}

TEST_F(RegistryTest, GetRegValueRemovesOneNulAndGivesEmptyForMissing) {
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Text"), Variant::String("abc"));
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "software\\TEST", "TEXT"), Variant::String("abc"));
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Dword"), Variant::Long(42));
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Missing"), Variant());
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Nope", "Text"), Variant());
  EXPECT_EQ(GetRegValue(kHKeyLocalMachine, "Software\\Test", "Text"), Variant());
}

TEST_F(RegistryTest, RegQueryValueExASizesAndSmallBuffers) {
  const HKEY key = Open();
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 4u);
  BYTE buffer[8] = {};
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, &size), kErrorMoreData);
  EXPECT_EQ(size, 4u);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "text", nullptr, nullptr, buffer, &size), kErrorSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string("abc\0", 4));
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, nullptr),
            kErrorInvalidParameter);
  EXPECT_EQ(RegCloseKey(key), kErrorSuccess);
  EXPECT_EQ(RegCloseKey(key), kErrorInvalidHandle);
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), kErrorInvalidHandle);
}

TEST_F(RegistryTest, RegOpenKeyAParentsSubkeysAndMissingKeys) {
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyA(kHKeyCurrentUser, "Software\\Missing", &key), kErrorFileNotFound);
  EXPECT_EQ(key, 0);  // left as it was
  EXPECT_EQ(RegOpenKeyA(0, "Software", &key), kErrorInvalidHandle);
  // A key line creates its parents.
  const HKEY software = Open("SOFTWARE");
  HKEY test = 0;
  EXPECT_EQ(RegOpenKeyA(software, "test", &test), kErrorSuccess);
  Variant v;
  EXPECT_EQ(QueryRegValue(test, "Dword", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::Long(42));
  HKEY same = 0;
  EXPECT_EQ(RegOpenKeyA(test, "", &same), kErrorSuccess);
  EXPECT_EQ(same, test);
  EXPECT_EQ(RegCloseKey(test), kErrorSuccess);
  EXPECT_EQ(RegCloseKey(software), kErrorSuccess);
  EXPECT_EQ(RegCloseKey(kHKeyCurrentUser), kErrorSuccess);
}

TEST_F(RegistryTest, FileReadAtEachOpenAnOpenKeyKeepsItsSnapshot) {
  const HKEY before = Open();
  WriteUser(RegFileBytes(RegFormat::Regedit4,
                         "[HKEY_CURRENT_USER\\Software\\Test]\n\"Text\"=\"changed\"\n"));
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Text"), Variant::String("changed"));
  Variant v;
  EXPECT_EQ(QueryRegValue(before, "Text", v), kErrorSuccess);
  EXPECT_EQ(v, Variant::String(std::string("abc\0", 4)));
  EXPECT_EQ(RegCloseKey(before), kErrorSuccess);
  std::filesystem::remove(userPath());
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Text"), Variant());
}

TEST_F(RegistryTest, AConnectedRootReadsTheFileItWasGivenAtEachOpen) {
  const std::filesystem::path other = dir() / "other.reg";
  WriteFile(other,
            RegFileBytes(RegFormat::Regedit4, "[HKCU\\Software\\Test]\n\"Text\"=\"other\"\n"));
  HKEY root = 0;
  ASSERT_EQ(RegConnectRegistryFiles({other.string(), ""}, kHKeyCurrentUser, &root), kErrorSuccess);
  EXPECT_NE(root, kHKeyCurrentUser);
  EXPECT_EQ(GetRegValue(root, "Software\\Test", "Text"), Variant::String("other"));
  WriteFile(other, RegFileBytes(RegFormat::Regedit4, "[HKCU\\Software\\Test]\n\"Text\"=\"new\"\n"));
  EXPECT_EQ(GetRegValue(root, "Software\\Test", "Text"), Variant::String("new"));
  // The predefined root still stands for the file the environment names.
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Text"), Variant::String("abc"));
  EXPECT_EQ(RegCloseKey(root), kErrorSuccess);
  EXPECT_EQ(GetRegValue(root, "Software\\Test", "Text"), Variant());
  EXPECT_EQ(RegCloseKey(root), kErrorInvalidHandle);
  EXPECT_EQ(RegConnectRegistryFiles({other.string(), ""}, 0x100, &root), kErrorInvalidHandle);
  EXPECT_EQ(RegConnectRegistryFiles({other.string(), ""}, kHKeyCurrentUser, nullptr),
            kErrorInvalidParameter);
}

TEST_F(RegistryTest, Regedit4TextBytesTakenAsTheyAre) {
  WriteUser(RegFileBytes(RegFormat::Regedit4,
                         "[HKCU\\Software\\Test]\n\"Latin1\"=\"Z\xFCrich\"\n"
                         "\"Hex\"=hex(2):5a,fc,00\n"));
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Latin1"),
            Variant::String("Z\xFCrich"));
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Hex"), Variant::String("Z\xFC"));
}

TEST_F(RegistryTest, Version5WideTextBecomesUtf8) {
  // U+00FC and U+1F600 as UTF-16LE; a lone surrogate becomes U+FFFD.
  WriteUser(RegFileBytes(RegFormat::Version5Utf16,
                         "[HKLM\\Software\\Test]\n"
                         "[HKCU\\Software\\Test]\n"
                         "\"Wide\"=hex(2):fc,00,3d,d8,00,de,00,d8,41,00,00,00\n"));
  EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "Software\\Test", "Wide"),
            Variant::String("\xC3\xBC\xF0\x9F\x98\x80\xEF\xBF\xBD"
                            "A"));
}

TEST_F(RegistryTest, DefaultFileLocations) {
  const std::string body = "[HKEY_CURRENT_USER\\A]\n\"V\"=\"";
  std::filesystem::create_directories(dir() / "xdg" / "ondavel");
  std::filesystem::create_directories(dir() / "home" / ".config" / "ondavel");
  WriteFile(dir() / "xdg" / "ondavel" / "registry.reg",
            RegFileBytes(RegFormat::Version5Utf8, body + "xdg\"\n"));
  WriteFile(dir() / "home" / ".config" / "ondavel" / "registry.reg",
            RegFileBytes(RegFormat::Version5Utf8, body + "home\"\n"));
  testing::ScopedEnv user("OA_REGISTRY_USER", nullptr);
  testing::ScopedEnv home("HOME", (dir() / "home").c_str());
  {
    testing::ScopedEnv xdg("XDG_CONFIG_HOME", (dir() / "xdg").c_str());
    EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "A", "V"), Variant::String("xdg"));
  }
  {
    testing::ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "A", "V"), Variant::String("home"));
  }
  {
    testing::ScopedEnv xdg("XDG_CONFIG_HOME", "relative/dir");
    EXPECT_EQ(GetRegValue(kHKeyCurrentUser, "A", "V"), Variant::String("home"));
  }
}

}  // namespace
}  // namespace oa::settings
