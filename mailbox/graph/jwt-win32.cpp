// Certificate and key through the system's own crypto: crypt32 decodes the PEM and DER, CNG
// (bcrypt) hashes and signs. A certificate named by thumbprint stays in the certificate store,
// its key used where the store keeps it (ncrypt, or CryptoAPI for a legacy provider's key).
#include <windows.h>
// After windows.h, which they need.
#include <bcrypt.h>
#include <ncrypt.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

#include "base/platform.h"
#include "base/secret_file.h"
#include "base/thumbprint.h"
#include "mailbox/graph/jwt.h"

namespace oa::graph {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct AlgCloser {
  void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct KeyCloser {
  void operator()(BCRYPT_KEY_HANDLE h) const { BCryptDestroyKey(h); }
};
struct CertCloser {
  void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
struct LocalCloser {
  void operator()(void* p) const { LocalFree(p); }
};
using Alg = std::unique_ptr<void, AlgCloser>;
using Key = std::unique_ptr<void, KeyCloser>;
using Cert = std::unique_ptr<const CERT_CONTEXT, CertCloser>;

// The DER inside the first PEM block with this label, or nullopt.
std::optional<std::string> PemBlock(const std::string& text, const std::string& label) {
  const std::string begin = "-----BEGIN " + label + "-----";
  const std::string end = "-----END " + label + "-----";
  const size_t b = text.find(begin);
  if (b == std::string::npos) return std::nullopt;
  const size_t e = text.find(end, b);
  if (e == std::string::npos) return std::nullopt;
  const std::string block = text.substr(b, e + end.size() - b);
  DWORD n = 0;
  if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                            CRYPT_STRING_BASE64HEADER, nullptr, &n, nullptr, nullptr))
    return std::nullopt;
  std::string der(n, '\0');
  if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                            CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &n,
                            nullptr, nullptr))
    return std::nullopt;
  der.resize(n);
  return der;
}

// CryptDecodeObjectEx into a buffer it allocates.
std::optional<std::vector<BYTE>> Decode(LPCSTR type, const BYTE* der, DWORD size) {
  void* out = nullptr;
  DWORD n = 0;
  if (!CryptDecodeObjectEx(kEncoding, type, der, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &out, &n))
    return std::nullopt;
  std::unique_ptr<void, LocalCloser> owned(out);
  const auto* p = static_cast<const BYTE*>(out);
  return std::vector<BYTE>(p, p + n);
}

void AppendReversed(std::vector<BYTE>* out, const BYTE* p, size_t n) {
  for (size_t i = n; i > 0; --i) out->push_back(p[i - 1]);
}

// A CryptoAPI PRIVATEKEYBLOB (little-endian numbers) as CNG's full private blob (big-endian).
std::optional<std::vector<BYTE>> FullPrivateBlob(const std::vector<BYTE>& legacy) {
  if (legacy.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return std::nullopt;
  RSAPUBKEY rsa;
  memcpy(&rsa, legacy.data() + sizeof(BLOBHEADER), sizeof rsa);
  const size_t len = rsa.bitlen / 8, half = rsa.bitlen / 16;
  const BYTE* p = legacy.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  if (rsa.magic != 0x32415352 /* RSA2 */ ||
      legacy.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + len * 2 + half * 5)
    return std::nullopt;
  std::vector<BYTE> exponent;
  for (DWORD e = rsa.pubexp; e; e >>= 8) exponent.insert(exponent.begin(), BYTE(e & 0xFF));
  BCRYPT_RSAKEY_BLOB head{};
  head.Magic = BCRYPT_RSAFULLPRIVATE_MAGIC;
  head.BitLength = rsa.bitlen;
  head.cbPublicExp = static_cast<ULONG>(exponent.size());
  head.cbModulus = static_cast<ULONG>(len);
  head.cbPrime1 = head.cbPrime2 = static_cast<ULONG>(half);
  std::vector<BYTE> out(reinterpret_cast<BYTE*>(&head),
                        reinterpret_cast<BYTE*>(&head) + sizeof head);
  out.insert(out.end(), exponent.begin(), exponent.end());
  // Legacy order: modulus, prime1, prime2, exponent1, exponent2, coefficient, private exponent;
  // CNG's is the same after the public exponent.
  for (size_t n : {len, half, half, half, half, half, len}) {
    AppendReversed(&out, p, n);
    p += n;
  }
  return out;
}

std::string Sha256(const BYTE* data, size_t n) {
  BCRYPT_ALG_HANDLE h = nullptr;
  if (BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return "";
  Alg alg(h);
  std::string out(32, '\0');
  if (BCryptHash(h, nullptr, 0, const_cast<BYTE*>(data), static_cast<ULONG>(n),
                 reinterpret_cast<BYTE*>(out.data()), 32) != 0)
    return "";
  return out;
}

// The key's public half, to compare a certificate's key with a private key.
std::string PublicBlob(BCRYPT_KEY_HANDLE key) {
  ULONG n = 0;
  if (BCryptExportKey(key, nullptr, BCRYPT_RSAPUBLIC_BLOB, nullptr, 0, &n, 0) != 0) return "";
  std::string out(n, '\0');
  if (BCryptExportKey(key, nullptr, BCRYPT_RSAPUBLIC_BLOB, reinterpret_cast<BYTE*>(out.data()), n,
                      &n, 0) != 0)
    return "";
  out.resize(n);
  return out;
}

class CngKey : public CertificateKey {
 public:
  CngKey(std::string thumbprint, Alg alg, Key key)
      : thumbprint_(std::move(thumbprint)), alg_(std::move(alg)), key_(std::move(key)) {}

  std::string Thumbprint() const override { return thumbprint_; }

  std::optional<std::string> SignRs256(const std::string& data) override {
    std::string hash = Sha256(reinterpret_cast<const BYTE*>(data.data()), data.size());
    if (hash.empty()) return std::nullopt;
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    auto* h = reinterpret_cast<BYTE*>(hash.data());
    ULONG n = 0;
    if (BCryptSignHash(key_.get(), &padding, h, 32, nullptr, 0, &n, BCRYPT_PAD_PKCS1) != 0)
      return std::nullopt;
    std::string sig(n, '\0');
    if (BCryptSignHash(key_.get(), &padding, h, 32, reinterpret_cast<BYTE*>(sig.data()), n, &n,
                       BCRYPT_PAD_PKCS1) != 0)
      return std::nullopt;
    sig.resize(n);
    return sig;
  }

 private:
  std::string thumbprint_;
  Alg alg_;
  Key key_;
};

// One DER element from *pos on: its tag and where its contents are; *pos moves past it.
bool DerNext(const std::string& d, size_t* pos, int* tag, size_t* start, size_t* len) {
  size_t p = *pos;
  if (p + 2 > d.size()) return false;
  *tag = static_cast<unsigned char>(d[p++]);
  size_t n = static_cast<unsigned char>(d[p++]);
  if (n & 0x80) {
    const size_t bytes = n & 0x7F;
    if (bytes == 0 || bytes > 4 || p + bytes > d.size()) return false;
    n = 0;
    for (size_t i = 0; i < bytes; ++i) n = (n << 8) | static_cast<unsigned char>(d[p++]);
  }
  if (n > d.size() - p) return false;
  *start = p;
  *len = n;
  *pos = p + n;
  return true;
}

// The RSAPrivateKey inside a PKCS#8 PrivateKeyInfo, walked by hand: Wine's crypt32 has no
// decoder for PKCS_PRIVATE_KEY_INFO.
std::optional<std::string> FromPkcs8(const std::string& der) {
  static const std::string kRsaEncryption("\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01", 9);
  size_t pos = 0, start = 0, len = 0;
  int tag = 0;
  if (!DerNext(der, &pos, &tag, &start, &len) || tag != 0x30) return std::nullopt;
  const std::string info = der.substr(start, len);
  pos = 0;
  if (!DerNext(info, &pos, &tag, &start, &len) || tag != 0x02) return std::nullopt;
  if (!DerNext(info, &pos, &tag, &start, &len) || tag != 0x30) return std::nullopt;
  const std::string algorithm = info.substr(start, len);
  size_t apos = 0;
  if (!DerNext(algorithm, &apos, &tag, &start, &len) || tag != 0x06 ||
      algorithm.substr(start, len) != kRsaEncryption)
    return std::nullopt;
  if (!DerNext(info, &pos, &tag, &start, &len) || tag != 0x04) return std::nullopt;
  return info.substr(start, len);
}

// The PKCS#1 RSAPrivateKey of the key file's PKCS#1 or PKCS#8 block.
std::optional<std::string> RsaPrivateKeyDer(const std::string& text) {
  if (auto pkcs1 = PemBlock(text, "RSA PRIVATE KEY")) return pkcs1;
  auto pkcs8 = PemBlock(text, "PRIVATE KEY");
  return pkcs8 ? FromPkcs8(*pkcs8) : std::nullopt;
}

}  // namespace

std::unique_ptr<CertificateKey> LoadCertificateKey(const std::string& certFile,
                                                   const std::string& keyFile, std::string* error) {
  std::string readError;
  const std::optional<std::string> certText =
      ReadSecretFile(certFile, SecretFileRule::Public, &readError);
  if (!certText) {
    *error = "The certificate file " + readError + ".";
    return nullptr;
  }
  auto certDer = PemBlock(*certText, "CERTIFICATE");
  Cert cert(certDer ? CertCreateCertificateContext(X509_ASN_ENCODING,
                                                   reinterpret_cast<const BYTE*>(certDer->data()),
                                                   static_cast<DWORD>(certDer->size()))
                    : nullptr);
  if (!cert) {
    *error = "The certificate file " + certFile + " holds no PEM certificate.";
    return nullptr;
  }
  const std::string& keyPath = keyFile.empty() ? certFile : keyFile;
  std::optional<std::string> keyText =
      ReadSecretFile(keyPath, SecretFileRule::OwnerOnly, &readError);
  if (!keyText) {
    *error = "The private key file " + readError + ".";
    return nullptr;
  }
  struct Wipe {
    std::string& text;
    ~Wipe() { WipeSecret(text); }
  } wipeKey{*keyText};
  auto rsaDer = RsaPrivateKeyDer(*keyText);
  auto legacy = rsaDer ? Decode(PKCS_RSA_PRIVATE_KEY, reinterpret_cast<const BYTE*>(rsaDer->data()),
                                static_cast<DWORD>(rsaDer->size()))
                       : std::nullopt;
  auto blob = legacy ? FullPrivateBlob(*legacy) : std::nullopt;
  if (!blob) {
    *error = "The private key file " + keyPath +
             " holds no unencrypted RSA private key in PEM (RS256 needs one).";
    return nullptr;
  }
  BCRYPT_ALG_HANDLE rsa = nullptr;
  if (BCryptOpenAlgorithmProvider(&rsa, BCRYPT_RSA_ALGORITHM, nullptr, 0) != 0) {
    *error = "The system offers no RSA signing for the key in " + keyPath + ".";
    return nullptr;
  }
  Alg alg(rsa);
  BCRYPT_KEY_HANDLE k = nullptr;
  NTSTATUS imported = BCryptImportKeyPair(rsa, nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, &k,
                                          blob->data(), static_cast<ULONG>(blob->size()), 0);
  if (imported != 0) {
    // Some implementations take only the shorter blob: the same up to the second prime.
    auto* head = reinterpret_cast<BCRYPT_RSAKEY_BLOB*>(blob->data());
    const size_t shortSize =
        sizeof *head + head->cbPublicExp + head->cbModulus + head->cbPrime1 + head->cbPrime2;
    head->Magic = BCRYPT_RSAPRIVATE_MAGIC;
    imported = BCryptImportKeyPair(rsa, nullptr, BCRYPT_RSAPRIVATE_BLOB, &k, blob->data(),
                                   static_cast<ULONG>(shortSize), 0);
  }
  SecureZeroMemory(blob->data(), blob->size());
  SecureZeroMemory(legacy->data(), legacy->size());
  if (imported != 0) {
    char status[16];
    snprintf(status, sizeof status, "0x%08lX", static_cast<unsigned long>(imported));
    *error =
        "The private key in " + keyPath + " could not be taken by the system (" + status + ").";
    return nullptr;
  }
  Key key(k);
  BCRYPT_KEY_HANDLE pub = nullptr;
  if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, 0,
                                   nullptr, &pub)) {
    *error = "The certificate in " + certFile + " holds no RSA public key.";
    return nullptr;
  }
  Key certKey(pub);
  const std::string certPublic = PublicBlob(pub);
  if (certPublic.empty() || certPublic != PublicBlob(k)) {
    *error = "The private key in " + keyPath + " does not belong to the certificate in " +
             certFile + ".";
    return nullptr;
  }
  return std::make_unique<CngKey>(Sha256(cert->pbCertEncoded, cert->cbCertEncoded), std::move(alg),
                                  std::move(key));
}

namespace {

struct StoreCloser {
  void operator()(void* s) const { CertCloseStore(s, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

// A CryptoAPI provider or an ncrypt key: integer handles, so no unique_ptr.
class KeyHandle {
 public:
  KeyHandle() = default;
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  ~KeyHandle() {
    if (ncrypt_) NCryptFreeObject(ncrypt_);
    if (legacy_) CryptReleaseContext(legacy_, 0);
  }
  NCRYPT_KEY_HANDLE ncrypt_ = 0;
  HCRYPTPROV legacy_ = 0;
  DWORD keySpec_ = AT_KEYEXCHANGE;
};

std::string HexOf(DWORD code) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

class StoreKey : public CertificateKey {
 public:
  StoreKey(std::string thumbprint, std::unique_ptr<KeyHandle> key)
      : thumbprint_(std::move(thumbprint)), key_(std::move(key)) {}

  std::string Thumbprint() const override { return thumbprint_; }

  std::optional<std::string> SignRs256(const std::string& data) override {
    std::string hash = Sha256(reinterpret_cast<const BYTE*>(data.data()), data.size());
    if (hash.empty()) return std::nullopt;
    auto* h = reinterpret_cast<BYTE*>(hash.data());
    if (key_->ncrypt_) {
      BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
      DWORD n = 0;
      if (NCryptSignHash(key_->ncrypt_, &padding, h, 32, nullptr, 0, &n, BCRYPT_PAD_PKCS1) != 0)
        return std::nullopt;
      std::string sig(n, '\0');
      if (NCryptSignHash(key_->ncrypt_, &padding, h, 32, reinterpret_cast<BYTE*>(sig.data()), n, &n,
                         BCRYPT_PAD_PKCS1) != 0)
        return std::nullopt;
      sig.resize(n);
      return sig;
    }
    HCRYPTHASH hashHandle = 0;
    if (!CryptCreateHash(key_->legacy_, CALG_SHA_256, 0, 0, &hashHandle)) return std::nullopt;
    std::unique_ptr<void, void (*)(void*)> hashOwner(
        reinterpret_cast<void*>(hashHandle),
        [](void* p) { CryptDestroyHash(reinterpret_cast<HCRYPTHASH>(p)); });
    DWORD n = 0;
    if (!CryptSetHashParam(hashHandle, HP_HASHVAL, h, 0) ||
        !CryptSignHashW(hashHandle, key_->keySpec_, nullptr, 0, nullptr, &n))
      return std::nullopt;
    std::string sig(n, '\0');
    if (!CryptSignHashW(hashHandle, key_->keySpec_, nullptr, 0, reinterpret_cast<BYTE*>(sig.data()),
                        &n))
      return std::nullopt;
    sig.resize(n);
    // CryptoAPI gives the signature little-endian.
    return std::string(sig.rbegin(), sig.rend());
  }

 private:
  std::string thumbprint_;
  std::unique_ptr<KeyHandle> key_;
};

// The certificate with this SHA-1 in the user's personal store, else the machine's.
Cert FindInStores(const std::string& sha1) {
  CRYPT_HASH_BLOB blob{static_cast<DWORD>(sha1.size()),
                       reinterpret_cast<BYTE*>(const_cast<char*>(sha1.data()))};
  for (DWORD location : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
    Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                              location | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
                              L"MY"));
    if (!store) continue;
    // The context found keeps its store open for as long as it lives.
    if (const CERT_CONTEXT* c = CertFindCertificateInStore(store.get(), kEncoding, 0,
                                                           CERT_FIND_SHA1_HASH, &blob, nullptr))
      return Cert(c);
  }
  return Cert();
}

// The certificate's private key as the store keeps it; a legacy provider's key is reopened in
// the RSA and AES provider, the one of CryptoAPI's that hashes SHA-256.
std::unique_ptr<KeyHandle> AcquireKey(const CERT_CONTEXT* cert, DWORD* failure) {
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
  DWORD keySpec = 0;
  BOOL mustFree = FALSE;
  if (!CryptAcquireCertificatePrivateKey(
          cert, CRYPT_ACQUIRE_SILENT_FLAG | CRYPT_ACQUIRE_PREFER_NCRYPT_KEY_FLAG, nullptr, &handle,
          &keySpec, &mustFree)) {
    *failure = GetLastError();
    return nullptr;
  }
  auto key = std::make_unique<KeyHandle>();
  if (keySpec == CERT_NCRYPT_KEY_SPEC) {
    // Without CRYPT_ACQUIRE_CACHE_FLAG the handle is always the caller's to free.
    if (!mustFree) {
      *failure = static_cast<DWORD>(NTE_NOT_SUPPORTED);
      return nullptr;
    }
    key->ncrypt_ = handle;
    return key;
  }
  std::unique_ptr<void, void (*)(void*)> acquired(
      mustFree ? reinterpret_cast<void*>(handle) : nullptr,
      [](void* p) { CryptReleaseContext(reinterpret_cast<HCRYPTPROV>(p), 0); });
  DWORD size = 0;
  std::vector<BYTE> info;
  if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
    info.resize(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size))
      info.clear();
  }
  if (info.empty()) {
    *failure = GetLastError();
    return nullptr;
  }
  const auto* prov = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
  key->keySpec_ = prov->dwKeySpec == AT_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE;
  const DWORD flags = CRYPT_SILENT | (prov->dwFlags & CRYPT_MACHINE_KEYSET);
  if (!CryptAcquireContextW(&key->legacy_, prov->pwszContainerName, MS_ENH_RSA_AES_PROV_W,
                            PROV_RSA_AES, flags)) {
    key->legacy_ = 0;
    *failure = GetLastError();
    return nullptr;
  }
  return key;
}

}  // namespace

std::unique_ptr<CertificateKey> LoadStoreCertificateKey(const std::string& thumbprint,
                                                        std::string* error) {
  const auto sha1 = oa::ParseThumbprint(thumbprint);
  if (!sha1) {
    *error = "The certificate thumbprint " + thumbprint + " is not 40 hexadecimal digits.";
    return nullptr;
  }
  Cert cert = FindInStores(*sha1);
  if (!cert) {
    *error = "No certificate with the thumbprint " + thumbprint +
             " is in the current user's or the machine's personal certificate store.";
    return nullptr;
  }
  const char* algorithm = cert->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
  if (!algorithm || std::string(algorithm) != szOID_RSA_RSA) {
    *error = "The certificate " + thumbprint + " holds no RSA key (RS256 needs one).";
    return nullptr;
  }
  DWORD failure = 0;
  auto key = AcquireKey(cert.get(), &failure);
  if (!key) {
    *error = "The private key of certificate " + thumbprint + " cannot be used by this user (" +
             HexOf(failure) + ").";
    return nullptr;
  }
  return std::make_unique<StoreKey>(Sha256(cert->pbCertEncoded, cert->cbCertEncoded),
                                    std::move(key));
}

std::string RandomBytes(size_t n) {
  std::string out(n, '\0');
  BCryptGenRandom(nullptr, reinterpret_cast<BYTE*>(out.data()), static_cast<ULONG>(n),
                  BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  return out;
}

}  // namespace oa::graph
