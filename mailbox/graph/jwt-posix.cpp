// Certificate and key through OpenSSL (the systems other than Windows).
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include "base/secret_file.h"
#include "mailbox/graph/jwt.h"

namespace oa::graph {
namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// A read-only memory BIO over the text (which must outlive it).
std::unique_ptr<BIO, BioFree> MemoryBio(const std::string& text) {
  return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// Wipes the text of a key file when the key has been read from it.
struct WipeOnExit {
  std::string& text;
  ~WipeOnExit() { WipeSecret(text); }
};

class OpenSslKey : public CertificateKey {
 public:
  OpenSslKey(std::unique_ptr<X509, X509Free> cert, std::unique_ptr<EVP_PKEY, KeyFree> key)
      : cert_(std::move(cert)), key_(std::move(key)) {}

  std::string Thumbprint() const override {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(cert_.get(), EVP_sha256(), digest, &n);
    return std::string(reinterpret_cast<const char*>(digest), n);
  }

  std::optional<std::string> SignRs256(const std::string& data) override {
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    size_t n = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &n, in, data.size()) != 1)
      return std::nullopt;
    std::string sig(n, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &n, in,
                       data.size()) != 1)
      return std::nullopt;
    sig.resize(n);
    return sig;
  }

 private:
  std::unique_ptr<X509, X509Free> cert_;
  std::unique_ptr<EVP_PKEY, KeyFree> key_;
};

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
  auto cf = MemoryBio(*certText);
  std::unique_ptr<X509, X509Free> cert(cf ? PEM_read_bio_X509(cf.get(), nullptr, nullptr, nullptr)
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
  WipeOnExit wipe{*keyText};
  auto kf = MemoryBio(*keyText);
  // No pass phrase is asked: OpenSSL's own prompt would wait on the terminal.
  pem_password_cb* noPassPhrase = [](char*, int, int, void*) { return 0; };
  std::unique_ptr<EVP_PKEY, KeyFree> key(
      kf ? PEM_read_bio_PrivateKey(kf.get(), nullptr, noPassPhrase, nullptr) : nullptr);
  if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA) {
    *error = "The private key file " + keyPath +
             " holds no unencrypted RSA private key in PEM (RS256 needs one).";
    return nullptr;
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    *error = "The private key in " + keyPath + " does not belong to the certificate in " +
             certFile + ".";
    return nullptr;
  }
  return std::make_unique<OpenSslKey>(std::move(cert), std::move(key));
}

std::unique_ptr<CertificateKey> LoadStoreCertificateKey(const std::string& thumbprint,
                                                        std::string* error) {
  *error = "The certificate " + thumbprint +
           " is named by thumbprint, which only a Windows certificate store knows; give the "
           "certificate and its key as PEM files.";
  return nullptr;
}

std::string RandomBytes(size_t n) {
  std::string out(n, '\0');
  RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(n));
  return out;
}

}  // namespace oa::graph
