// Puts an application certificate with its private key (a PKCS#12 file without a password) into
// the current user's personal store, as an administrator's import does, and prints its SHA-1
// thumbprint; or takes the certificate of a thumbprint out again.
//   add_test_cert import FILE.pfx
//   add_test_cert remove THUMBPRINT
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string verb = argv[1];
  HCERTSTORE my =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  if (!my) return 1;
  int status = 1;
  if (verb == "import") {
    std::ifstream in(argv[2], std::ios::binary);
    std::string pfx((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), reinterpret_cast<BYTE*>(pfx.data())};
    HCERTSTORE imported = PFXImportCertStore(&blob, L"", CRYPT_USER_KEYSET);
    if (imported) {
      if (const CERT_CONTEXT* c = CertEnumCertificatesInStore(imported, nullptr)) {
        BYTE sha1[20];
        DWORD n = sizeof sha1;
        if (CertAddCertificateContextToStore(my, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) &&
            CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, sha1, &n)) {
          for (DWORD i = 0; i < n; ++i) std::printf("%02X", sha1[i]);
          std::printf("\n");
          status = 0;
        }
        CertFreeCertificateContext(c);
      }
      CertCloseStore(imported, 0);
    }
  } else if (verb == "remove") {
    const std::string hex = argv[2];
    BYTE sha1[20];
    for (size_t i = 0; i < 20 && 2 * i + 1 < hex.size(); ++i)
      sha1[i] = static_cast<BYTE>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    CRYPT_HASH_BLOB blob{sizeof sha1, sha1};
    if (const CERT_CONTEXT* c = CertFindCertificateInStore(
            my, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr))
      status = CertDeleteCertificateFromStore(c) ? 0 : 1;  // frees c
  }
  CertCloseStore(my, 0);
  return status;
}
