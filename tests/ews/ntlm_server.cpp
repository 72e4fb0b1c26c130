#include "tests/ews/ntlm_server.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace oa::ews::testing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr uint32_t kUnicode = 0x00000001;
constexpr uint32_t kOem = 0x00000002;
constexpr uint32_t kRequestTarget = 0x00000004;
constexpr uint32_t kNtlm = 0x00000200;
constexpr uint32_t kAlwaysSign = 0x00008000;
constexpr uint32_t kTargetTypeDomain = 0x00010000;
constexpr uint32_t kExtendedSessionSecurity = 0x00080000;
constexpr uint32_t kTargetInfo = 0x00800000;
constexpr uint32_t kVersion = 0x02000000;

uint32_t Read32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Read16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
void Put16(Bytes& b, uint16_t v) {
  b.push_back(v & 0xff);
  b.push_back(v >> 8);
}
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xff);
}

// A security buffer's bytes; nothing when it points outside the message.
std::optional<Bytes> Field(const Bytes& message, size_t at) {
  if (message.size() < at + 8) return std::nullopt;
  const size_t len = Read16(message, at);
  const size_t offset = Read32(message, at + 4);
  if (offset > message.size() || len > message.size() - offset) return std::nullopt;
  return Bytes(message.begin() + static_cast<long>(offset),
               message.begin() + static_cast<long>(offset + len));
}

// UTF-16LE of a UTF-8 text of the Basic Multilingual Plane.
Bytes Utf16(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xe0 && i + 2 < text.size()) {
      cp = (c & 0x0f) << 12 | (text[i + 1] & 0x3f) << 6 | (text[i + 2] & 0x3f);
      n = 3;
    } else if (c >= 0xc0 && i + 1 < text.size()) {
      cp = (c & 0x1f) << 6 | (text[i + 1] & 0x3f);
      n = 2;
    }
    Put16(out, static_cast<uint16_t>(cp));
    i += n;
  }
  return out;
}

// A received name as text: UTF-16LE when `unicode`, else the bytes as they are. Only the
// ASCII range matters for the test accounts.
std::string Text(const Bytes& b, bool unicode) {
  std::string out;
  if (!unicode) return std::string(b.begin(), b.end());
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const uint16_t c = Read16(b, i);
    out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// MD4 lives in OpenSSL's legacy provider, loaded into a library context of our own so that
// the process's default context (which libcurl uses) stays as it is.
std::optional<Bytes> Md4(const Bytes& data) {
  std::unique_ptr<OSSL_LIB_CTX, decltype(&OSSL_LIB_CTX_free)> ctx(OSSL_LIB_CTX_new(),
                                                                  OSSL_LIB_CTX_free);
  if (!ctx) return std::nullopt;
  std::unique_ptr<OSSL_PROVIDER, decltype(&OSSL_PROVIDER_unload)> legacy(
      OSSL_PROVIDER_load(ctx.get(), "legacy"), OSSL_PROVIDER_unload);
  if (!legacy) return std::nullopt;
  std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(ctx.get(), "MD4", nullptr),
                                                     EVP_MD_free);
  Bytes out(16);
  unsigned int len = 0;
  if (!md || !EVP_Digest(data.data(), data.size(), out.data(), &len, md.get(), nullptr) ||
      len != 16)
    return std::nullopt;
  return out;
}

Bytes HmacMd5(const Bytes& key, const Bytes& data) {
  Bytes out(16);
  size_t len = 0;
  if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "MD5", nullptr, key.data(), key.size(), data.data(),
                 data.size(), out.data(), out.size(), &len) ||
      len != 16)
    return {};
  return out;
}

void AvPair(Bytes& b, uint16_t id, const Bytes& value) {
  Put16(b, id);
  Put16(b, static_cast<uint16_t>(value.size()));
  b.insert(b.end(), value.begin(), value.end());
}

}  // namespace

int NtlmMessageType(const Bytes& message) {
  if (message.size() < 12 || std::memcmp(message.data(), kSignature, 8) != 0) return 0;
  const uint32_t type = Read32(message, 8);
  return type >= 1 && type <= 3 ? static_cast<int>(type) : 0;
}

std::optional<Bytes> NtlmChallengeFor(const Bytes& negotiate, NtlmChallenge* challenge) {
  if (NtlmMessageType(negotiate) != 1 || negotiate.size() < 16) return std::nullopt;
  const uint32_t asked = Read32(negotiate, 12);
  if (RAND_bytes(challenge->data(), static_cast<int>(challenge->size())) != 1) return std::nullopt;

  // Answered as a domain member server does: Unicode when the client can, NTLMv2 by the target
  // information block.
  const uint32_t flags = (asked & kUnicode ? kUnicode : kOem) | kRequestTarget | kNtlm |
                         kAlwaysSign | kTargetTypeDomain | kExtendedSessionSecurity | kTargetInfo |
                         kVersion;
  const bool unicode = flags & kUnicode;
  const Bytes target = unicode ? Utf16("OATEST") : Bytes{'O', 'A', 'T', 'E', 'S', 'T'};
  Bytes info;
  AvPair(info, 2, Utf16("OATEST"));
  AvPair(info, 1, Utf16("EWS"));
  AvPair(info, 4, Utf16("oa.test"));
  AvPair(info, 3, Utf16("ews.oa.test"));
  // Windows file time: 100 ns steps since 1601.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const uint64_t fileTime =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) *
          10 +
      116444736000000000ULL;
  Bytes stamp;
  Put32(stamp, static_cast<uint32_t>(fileTime));
  Put32(stamp, static_cast<uint32_t>(fileTime >> 32));
  AvPair(info, 7, stamp);
  AvPair(info, 0, {});

  constexpr uint32_t kPayload = 56;
  Bytes m(kSignature, kSignature + 8);
  Put32(m, 2);
  Put16(m, static_cast<uint16_t>(target.size()));
  Put16(m, static_cast<uint16_t>(target.size()));
  Put32(m, kPayload);
  Put32(m, flags);
  m.insert(m.end(), challenge->begin(), challenge->end());
  m.insert(m.end(), 8, 0);
  Put16(m, static_cast<uint16_t>(info.size()));
  Put16(m, static_cast<uint16_t>(info.size()));
  Put32(m, kPayload + static_cast<uint32_t>(target.size()));
  // Version 10.0 build 20348, NTLM revision 15.
  for (uint8_t v : {10, 0, 0x4c, 0x4f, 0, 0, 0, 15}) m.push_back(v);
  m.insert(m.end(), target.begin(), target.end());
  m.insert(m.end(), info.begin(), info.end());
  return m;
}

NtlmVerdict NtlmVerify(const Bytes& authenticate, const NtlmChallenge& challenge,
                       const std::string& user, const std::string& password) {
  NtlmVerdict v;
  if (NtlmMessageType(authenticate) != 3 || authenticate.size() < 64) {
    v.why = "not an authenticate message";
    return v;
  }
  auto nt = Field(authenticate, 20);
  auto domain = Field(authenticate, 28);
  auto name = Field(authenticate, 36);
  if (!nt || !domain || !name) {
    v.why = "a field points outside the message";
    return v;
  }
  const bool unicode = Read32(authenticate, 60) & kUnicode;
  v.user = Text(*name, unicode);
  v.domain = Text(*domain, unicode);
  if (Upper(v.user) != Upper(user)) {
    v.why = "unknown user";
    return v;
  }
  if (nt->size() <= 24) {
    v.why = "not an NTLMv2 response";
    return v;
  }
  auto ntHash = Md4(Utf16(password));
  if (!ntHash) {
    v.why = "MD4 is not available";
    return v;
  }
  // NTOWFv2 = HMAC-MD5(NT hash, UTF-16LE(upper(user) + domain)), over the names as sent.
  Bytes identity = Utf16(Upper(v.user));
  const Bytes sentDomain = unicode ? *domain : Utf16(v.domain);
  identity.insert(identity.end(), sentDomain.begin(), sentDomain.end());
  const Bytes key = HmacMd5(*ntHash, identity);
  Bytes proofInput(challenge.begin(), challenge.end());
  proofInput.insert(proofInput.end(), nt->begin() + 16, nt->end());
  const Bytes proof = HmacMd5(key, proofInput);
  if (proof.empty() || CRYPTO_memcmp(proof.data(), nt->data(), 16) != 0) {
    v.why = "wrong password";
    return v;
  }
  v.ok = true;
  return v;
}

}  // namespace oa::ews::testing
