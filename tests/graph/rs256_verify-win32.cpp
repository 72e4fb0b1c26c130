#include <windows.h>
// After windows.h, which they need.
#include <bcrypt.h>
#include <wincrypt.h>

#include <memory>

#include "tests/graph/rs256_verify.h"

namespace oa::graph::testing {

bool VerifyRs256(const std::string& certPem, const std::string& data, const std::string& sig) {
  DWORD n = 0;
  if (!CryptStringToBinaryA(certPem.c_str(), static_cast<DWORD>(certPem.size()),
                            CRYPT_STRING_BASE64HEADER, nullptr, &n, nullptr, nullptr))
    return false;
  std::string der(n, '\0');
  if (!CryptStringToBinaryA(certPem.c_str(), static_cast<DWORD>(certPem.size()),
                            CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &n,
                            nullptr, nullptr))
    return false;
  std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> cert(
      CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), n),
      CertFreeCertificateContext);
  if (!cert) return false;
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, 0,
                                   nullptr, &key))
    return false;
  std::unique_ptr<void, decltype(&BCryptDestroyKey)> owned(key, BCryptDestroyKey);
  BCRYPT_ALG_HANDLE sha = nullptr;
  if (BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return false;
  UCHAR hash[32];
  const NTSTATUS hashed =
      BCryptHash(sha, nullptr, 0, reinterpret_cast<UCHAR*>(const_cast<char*>(data.data())),
                 static_cast<ULONG>(data.size()), hash, sizeof hash);
  BCryptCloseAlgorithmProvider(sha, 0);
  if (hashed != 0) return false;
  BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
  return BCryptVerifySignature(key, &padding, hash, sizeof hash,
                               reinterpret_cast<UCHAR*>(const_cast<char*>(sig.data())),
                               static_cast<ULONG>(sig.size()), BCRYPT_PAD_PKCS1) == 0;
}

}  // namespace oa::graph::testing
