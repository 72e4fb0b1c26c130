#include "base/file_readers-win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <filesystem>
#include <memory>

#include "base/platform.h"

namespace oa {
namespace {

struct LocalFreer {
  void operator()(void* p) const { ::LocalFree(p); }
};
struct HandleCloser {
  void operator()(HANDLE h) const { ::CloseHandle(h); }
};

std::string Utf8(const wchar_t* text) {
  return text ? Utf8FromPath(std::filesystem::path(text)) : std::string();
}

// "DOMAIN\name" (or "name" for a well-known group without a domain), else the SID's text.
std::string AccountName(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use) && *name)
    return *domain ? Utf8(domain) + "\\" + Utf8(name) : Utf8(name);
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  std::unique_ptr<wchar_t, LocalFreer> held(text);
  return Utf8(text);
}

class WellKnownSid {
 public:
  explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof sid_;
    ok_ = ::CreateWellKnownSid(type, nullptr, sid_, &size);
  }
  bool Is(PSID other) const { return ok_ && ::EqualSid(const_cast<BYTE*>(sid_), other); }

 private:
  BYTE sid_[SECURITY_MAX_SID_SIZE];
  bool ok_ = false;
};

// The user the program runs as; empty when it cannot be learnt.
std::vector<BYTE> CurrentUser() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::unique_ptr<void, HandleCloser> held(token);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  std::vector<BYTE> out(::GetLengthSid(sid));
  if (!::CopySid(static_cast<DWORD>(out.size()), out.data(), sid)) return {};
  return out;
}

// What an access mask lets in that reading a file needs.
constexpr ACCESS_MASK kReadRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;

}  // namespace

FileReaders ReadersOf(const void* securityDescriptor) {
  FileReaders r;
  auto* sd = const_cast<void*>(securityDescriptor);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(sd, &owner, &defaulted)) owner = nullptr;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) present = FALSE;

  std::vector<BYTE> me = CurrentUser();
  const WellKnownSid system(WinLocalSystemSid), administrators(WinBuiltinAdministratorsSid),
      ownerRights(WinCreatorOwnerRightsSid);
  auto trusted = [&](PSID sid) {
    return (owner && ::EqualSid(sid, owner)) || (!me.empty() && ::EqualSid(sid, me.data())) ||
           system.Is(sid) || administrators.Is(sid) || ownerRights.Is(sid);
  };
  r.owner = owner ? AccountName(owner) : "no one";
  r.ownerTrusted = owner && ((!me.empty() && ::EqualSid(owner, me.data())) || system.Is(owner) ||
                             administrators.Is(owner));
  if (!present || !dacl) {
    r.noList = true;
    return r;
  }
  // Windows reads the list in order: a denial met first takes the read right away from that
  // account, whatever a later entry allows.
  std::vector<PSID> denied, others;
  auto listed = [](const std::vector<PSID>& sids, PSID sid) {
    for (PSID s : sids)
      if (::EqualSid(s, sid)) return true;
    return false;
  };
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // An entry only for what is made inside a folder does not apply to the object itself.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    // The allowed and denied entries and their conditional (callback) forms share this layout.
    const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if ((entry->Mask & kReadRights) == 0) continue;
    const PSID sid = const_cast<DWORD*>(&entry->SidStart);
    switch (header->AceType) {
      case ACCESS_DENIED_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        denied.push_back(sid);
        break;
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        if (!trusted(sid) && !listed(denied, sid) && !listed(others, sid)) others.push_back(sid);
        break;
      default:
        break;
    }
  }
  for (PSID sid : others) r.others.push_back(AccountName(sid));
  return r;
}

std::string OwnerOnlyRefusal(const std::string& path, const FileReaders& readers) {
  if (!readers.ownerTrusted) {
    std::vector<BYTE> me = CurrentUser();
    return path + ": is owned by " + readers.owner + ", not by you (" +
           (me.empty() ? std::string("unknown") : AccountName(me.data())) + ")";
  }
  const std::string fix = "; let only yourself read it (icacls \"" + path +
                          "\" /inheritance:r /grant:r \"%USERNAME%:F\")";
  if (readers.noList) return path + ": has no access list, so everyone may read it" + fix;
  if (readers.others.empty()) return {};
  std::string names;
  for (size_t i = 0; i < readers.others.size(); ++i)
    names += (i == 0 ? "" : i + 1 == readers.others.size() ? " and " : ", ") + readers.others[i];
  return path + ": may be read by " + names + ", not only by its owner" + fix;
}

}  // namespace oa
