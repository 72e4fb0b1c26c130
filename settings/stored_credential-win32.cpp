// Credential Manager's generic credentials (CredReadW), where a Windows administrator keeps a
// service account's password.
#include <windows.h>
// After windows.h, which it needs.
#include <wincred.h>

#include <filesystem>
#include <memory>

#include "base/credential_target.h"
#include "base/platform.h"
#include "base/process_guard.h"
#include "settings/stored_credential.h"

namespace oa::settings {
namespace {

struct CredentialFreer {
  void operator()(CREDENTIALW* c) const {
    // The blob is the secret: overwritten before Windows releases it.
    if (c->CredentialBlob) ::SecureZeroMemory(c->CredentialBlob, c->CredentialBlobSize);
    ::CredFree(c);
  }
};

template <typename Text>
void Wipe(Text& s) {
  volatile auto* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

}  // namespace

const bool kHaveCredentialStore = true;

std::optional<StoredCredential> ReadStoredCredential(const std::string& host) {
  if (host.empty()) return std::nullopt;
  const std::wstring target = PathFromUtf8(CredentialTarget(host)).wstring();
  CREDENTIALW* found = nullptr;
  if (!::CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &found)) return std::nullopt;
  std::unique_ptr<CREDENTIALW, CredentialFreer> credential(found);
  if (!found->UserName || !*found->UserName || !found->CredentialBlob ||
      found->CredentialBlobSize < sizeof(wchar_t))
    return std::nullopt;
  ProtectSecretsFromDumps();
  std::wstring password(reinterpret_cast<const wchar_t*>(found->CredentialBlob),
                        found->CredentialBlobSize / sizeof(wchar_t));
  // A password written with its terminator.
  while (!password.empty() && password.back() == L'\0') password.pop_back();
  StoredCredential out;
  out.user = Utf8FromPath(std::filesystem::path(found->UserName));
  out.password = Utf8FromPath(std::filesystem::path(password));
  Wipe(password);
  if (out.password.empty()) return std::nullopt;
  return out;
}

}  // namespace oa::settings
