// The self-signed P-256 certificate of a loopback test server, made by the openssl program.
// Linux only (the servers run there); the test program links OpenSSL.
#pragma once

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace oa::testing {

// Whether the certificate's ECDSA self-signature has an r and an s of the curve's full 32 bytes.
// Wine's crypt32 refuses a signature with a shorter r or s (one certificate in about 128), and
// WinHTTP then fails the TLS handshake (error 12157) against a certificate the prefix trusts.
inline bool HasFullLengthSignature(const std::string& certFile) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(certFile.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return false;
  std::unique_ptr<X509, void (*)(X509*)> cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr),
                                              &X509_free);
  if (!cert) return false;
  const ASN1_BIT_STRING* signature = nullptr;
  X509_get0_signature(&signature, nullptr, cert.get());
  if (!signature) return false;
  const unsigned char* der = ASN1_STRING_get0_data(signature);
  std::unique_ptr<ECDSA_SIG, void (*)(ECDSA_SIG*)> ecdsa(
      d2i_ECDSA_SIG(nullptr, &der, ASN1_STRING_length(signature)), &ECDSA_SIG_free);
  if (!ecdsa) return false;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(ecdsa.get(), &r, &s);
  return BN_num_bytes(r) == 32 && BN_num_bytes(s) == 32;
}

// Makes `certFile` and its key with `command` (an `openssl req -x509` for a P-256 key), again
// while the certificate is one Wine would refuse.
inline bool MakeLoopbackCertificate(const std::string& command, const std::string& certFile) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (std::system(command.c_str()) != 0) return false;
    if (HasFullLengthSignature(certFile)) return true;
  }
  return false;
}

}  // namespace oa::testing
