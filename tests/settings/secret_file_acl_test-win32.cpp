// Windows: a password file is taken only when its access list lets no one read it but its owner
// (and you, SYSTEM and the Administrators); the refusal names the file and who else may read
// it. The judgment is tried on access lists written out (Wine keeps none on its files), and on
// real files through the one secret-file reader and the configuration.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/file_readers-win32.h"
#include "settings/config.h"
#include "settings/password.h"
#include "tests/nowindow/temp_files.h"

namespace oa::settings {
namespace {

using oa::testing::TempDir;
using oa::testing::WriteFile;

struct LocalFreer {
  void operator()(void* p) const { ::LocalFree(p); }
};

std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; s && *s; ++s) out += static_cast<char>(*s);
  return out;
}
std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());  // ASCII here
}

// The SID of the user the tests run as, as text ("S-1-5-21-...").
std::string MySid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  BYTE buffer[256];
  DWORD size = 0;
  const bool ok = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  ::CloseHandle(token);
  wchar_t* text = nullptr;
  if (!ok || !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
    return {};
  std::unique_ptr<wchar_t, LocalFreer> held(text);
  return Narrow(text);
}

// Wine keeps no access lists on files: it reports one made from the Unix mode bits.
bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// The judgment on a security descriptor written in SDDL, "ME" standing for your SID.
FileReaders Judge(std::string sddl) {
  const std::string me = MySid();
  for (size_t p; (p = sddl.find("ME")) != std::string::npos;) sddl.replace(p, 2, me);
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl).c_str(), SDDL_REVISION_1,
                                                              &sd, nullptr)) {
    ADD_FAILURE() << "not a security descriptor: " << sddl;
    return {};
  }
  std::unique_ptr<void, LocalFreer> held(sd);
  return ReadersOf(sd);
}

std::string Refusal(const std::string& sddl) {
  return OwnerOnlyRefusal("C:\\pw.txt", Judge(sddl));
}

const std::string kFix =
    "; let only yourself read it (icacls \"C:\\pw.txt\" /inheritance:r /grant:r "
    "\"%USERNAME%:F\")";

TEST(FileReaders, OnlyTheOwnerSystemAndAdministratorsMayRead) {
  ASSERT_FALSE(MySid().empty());
  EXPECT_EQ(Refusal("O:MED:P(A;;FA;;;ME)"), "");
  EXPECT_EQ(Refusal("O:MED:P(A;;FA;;;ME)(A;;FA;;;SY)(A;;FA;;;BA)"), "");
  // Owned by the Administrators (a file an elevated administrator made), you let in.
  EXPECT_EQ(Refusal("O:BAD:P(A;;FA;;;BA)(A;;FR;;;ME)(A;;FA;;;SY)"), "");
  // Others may do what does not read it: list the folder, see its attributes, write.
  EXPECT_EQ(Refusal("O:MED:P(A;;FA;;;ME)(A;;FW;;;BU)(A;;0x100080;;;WD)"), "");
  // An entry only for what is made inside (inherit-only) does not apply to the file.
  EXPECT_EQ(Refusal("O:MED:P(A;;FA;;;ME)(A;OIIO;FR;;;WD)"), "");
  // A denial met first takes the read right away, whatever follows.
  EXPECT_EQ(Refusal("O:MED:(D;;FR;;;BU)(A;;FA;;;ME)(A;;FR;;;BU)"), "");
}

TEST(FileReaders, EveryoneUsersOrNoListAreRefusedByName) {
  const FileReaders everyone = Judge("O:MED:P(A;;FA;;;ME)(A;;FR;;;WD)");
  ASSERT_EQ(everyone.others.size(), 1u);
  EXPECT_EQ(everyone.others[0], "Everyone");
  EXPECT_EQ(OwnerOnlyRefusal("C:\\pw.txt", everyone),
            "C:\\pw.txt: may be read by Everyone, not only by its owner" + kFix);

  const FileReaders users = Judge("O:MED:P(A;;FA;;;ME)(A;;FR;;;BU)(A;;GR;;;AU)(A;;FR;;;WD)");
  ASSERT_EQ(users.others.size(), 3u);
  EXPECT_NE(users.others[0].find("Users"), std::string::npos) << users.others[0];
  EXPECT_NE(users.others[1].find("Authenticated Users"), std::string::npos) << users.others[1];
  EXPECT_EQ(OwnerOnlyRefusal("C:\\pw.txt", users),
            "C:\\pw.txt: may be read by " + users.others[0] + ", " + users.others[1] +
                " and Everyone, not only by its owner" + kFix);

  // An allowance before the denial counts: Windows stops at the first entry that grants.
  EXPECT_EQ(Judge("O:MED:(A;;FR;;;BU)(D;;FR;;;BU)(A;;FA;;;ME)").others.size(), 1u);
  // An account without a name is named by its SID.
  EXPECT_EQ(Judge("O:MED:P(A;;FA;;;ME)(A;;FR;;;S-1-5-21-7-8-9-4242)").others,
            std::vector<std::string>{"S-1-5-21-7-8-9-4242"});

  // No DACL at all (made by hand: Wine's SDDL reader takes NO_ACCESS_CONTROL for an empty one).
  SECURITY_DESCRIPTOR open{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  PSID mine = nullptr;
  ASSERT_TRUE(::ConvertStringSidToSidW(Wide(MySid()).c_str(), &mine));
  std::unique_ptr<void, LocalFreer> held(mine);
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&open, mine, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  EXPECT_EQ(OwnerOnlyRefusal("C:\\pw.txt", ReadersOf(&open)),
            "C:\\pw.txt: has no access list, so everyone may read it" + kFix);
}

// A file someone else owns could have been put there for us to use.
TEST(FileReaders, FileOwnedByAnotherAccountIsRefused) {
  const FileReaders theirs = Judge("O:S-1-5-21-7-8-9-4242D:P(A;;FA;;;ME)");
  EXPECT_FALSE(theirs.ownerTrusted);
  const std::string refusal = OwnerOnlyRefusal("C:\\pw.txt", theirs);
  EXPECT_EQ(refusal.rfind("C:\\pw.txt: is owned by S-1-5-21-7-8-9-4242, not by you (", 0), 0u)
      << refusal;
  EXPECT_TRUE(Judge("O:SYD:P(A;;FA;;;ME)").ownerTrusted);
}

// Real files: their access list set as an administrator would (icacls), read back by the one
// secret-file reader and by the configuration.
class PasswordFileAcl : public ::testing::Test {
 protected:
  // A password file with the access list `sddl` ("ME" standing for your SID).
  std::string Secret(const std::string& name, std::string sddl) {
    const std::string path = dir / name;
    WriteFile(path, "s3cret\n");
    const std::string me = MySid();
    for (size_t p; (p = sddl.find("ME")) != std::string::npos;) sddl.replace(p, 2, me);
    PSECURITY_DESCRIPTOR sd = nullptr;
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        Wide(sddl).c_str(), SDDL_REVISION_1, &sd, nullptr))
        << sddl;
    std::unique_ptr<void, LocalFreer> held(sd);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    std::wstring wide = Wide(path);
    EXPECT_EQ(
        ::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr),
        static_cast<DWORD>(ERROR_SUCCESS))
        << path;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::string error;
    const std::optional<std::string> secret = ReadPasswordFile(path, &error);
    return secret ? "read: " + *secret : error;
  }

  TempDir dir;
};

// Yours alone: allowed to you, denied to everyone else (Wine turns that into mode 0770, which it
// reports as an owner-only file; it keeps the mode bits only for you and Everyone).
constexpr char kOwnerOnly[] = "D:P(A;;FA;;;ME)(D;;FA;;;WD)";

TEST_F(PasswordFileAcl, OwnerOnlyFileIsReadAndOneOthersMayReadIsRefusedByName) {
  EXPECT_EQ(Read(Secret("mine", kOwnerOnly)), "read: s3cret");

  const std::string everyone = Secret("everyone", "D:P(A;;FA;;;ME)(A;;FR;;;WD)");
  const std::string refused = Read(everyone);
  EXPECT_EQ(refused.rfind(everyone + ": may be read by ", 0), 0u) << refused;
  EXPECT_NE(refused.find("Everyone"), std::string::npos) << refused;
  EXPECT_NE(refused.find("icacls \"" + everyone + "\""), std::string::npos) << refused;
  EXPECT_EQ(refused.find("s3cret"), std::string::npos);

  // Wine has no mode bits for the Users group and drops its entry; the judgment of such a list
  // is tried above (FileReaders) all the same.
  if (UnderWine()) return;
  const std::string users = Secret("users", "D:P(A;;FA;;;ME)(A;;FR;;;BU)");
  const std::string usersRefused = Read(users);
  EXPECT_EQ(usersRefused.rfind(users + ": may be read by ", 0), 0u) << usersRefused;
  EXPECT_NE(usersRefused.find("Users"), std::string::npos) << usersRefused;
}

// Through the configuration: the refusal stops the run with the option's name and the file's.
TEST_F(PasswordFileAcl, ConfigurationNamesTheOptionAndTheFile) {
  ConfigOptions o;
  o.user = "EXAMPLE\\svc";
  o.passwordFile = Secret("everyone", "D:P(A;;FA;;;ME)(A;;FR;;;WD)");
  const ConfigResult refused = LoadConfig(
      o, [](const std::string&) { return std::nullopt; }, false);
  ASSERT_EQ(refused.errors.size(), 1u);
  EXPECT_EQ(refused.errors[0].rfind("--password-file: " + *o.passwordFile + ": may be read by ", 0),
            0u)
      << refused.errors[0];
  EXPECT_TRUE(refused.config.ews.password.value.empty());

  o.passwordFile = Secret("mine", kOwnerOnly);
  const ConfigResult taken = LoadConfig(
      o, [](const std::string&) { return std::nullopt; }, false);
  EXPECT_TRUE(taken.ok()) << taken.errors[0];
  EXPECT_EQ(taken.config.ews.password.value, "s3cret");
}

}  // namespace
}  // namespace oa::settings
