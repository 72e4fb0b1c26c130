// Trusts a test server's certificate in this Wine prefix (or Windows account), the way an
// administrator imports a company CA: `add_test_ca add FILE` puts the PEM or DER certificate
// into the CurrentUser ROOT store, `add_test_ca remove FILE` takes it out again. WinHTTP then
// checks the server in full against it.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(void* s) const { ::CertCloseStore(static_cast<HCERTSTORE>(s), 0); }
};
struct ContextFree {
  void operator()(const CERT_CONTEXT* c) const { ::CertFreeCertificateContext(c); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

// The DER bytes of a PEM or DER file; empty when it holds neither.
std::vector<BYTE> ReadCertificate(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.empty()) return {};
  if (text.find("-----BEGIN") == std::string::npos)
    return std::vector<BYTE>(text.begin(), text.end());
  DWORD n = 0;
  if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &n, nullptr, nullptr))
    return {};
  std::vector<BYTE> der(n);
  if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &n, nullptr, nullptr))
    return {};
  der.resize(n);
  return der;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string action = argc == 3 ? argv[1] : "";
  if (action != "add" && action != "remove") {
    std::fprintf(stderr, "usage: add_test_ca add|remove CERTIFICATE-FILE\n");
    return 2;
  }
  const std::vector<BYTE> der = ReadCertificate(argv[2]);
  if (der.empty()) {
    std::fprintf(stderr, "%s: no PEM or DER certificate\n", argv[2]);
    return 1;
  }
  // Added through the system store, as an administrator would; removed from the registry's ROOT
  // store itself, since under Wine a delete through the system store's collection reports
  // success and leaves the certificate in place.
  std::unique_ptr<void, StoreCloser> store(::CertOpenStore(
      action == "add" ? CERT_STORE_PROV_SYSTEM_W : CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
      CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"));
  if (!store) {
    std::fprintf(stderr, "cannot open the CurrentUser ROOT store: error %lu\n", ::GetLastError());
    return 1;
  }
  if (action == "remove") {
    Context wanted(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size())));
    if (!wanted) {
      std::fprintf(stderr, "%s: not a certificate: error %lu\n", argv[2], ::GetLastError());
      return 1;
    }
    // The context found belongs to the store the certificate lives in, so deleting it reaches
    // that store; deleting frees it.
    while (PCCERT_CONTEXT found = ::CertFindCertificateInStore(
               store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted.get(), nullptr)) {
      if (!::CertDeleteCertificateFromStore(found)) {
        std::fprintf(stderr, "%s: not removed: error %lu\n", argv[2], ::GetLastError());
        return 1;
      }
    }
    return 0;
  }
  PCCERT_CONTEXT added = nullptr;
  if (!::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
    std::fprintf(stderr, "%s: not added: error %lu\n", argv[2], ::GetLastError());
    return 1;
  }
  ::CertFreeCertificateContext(added);
  return 0;
}
