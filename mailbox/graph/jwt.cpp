#include "mailbox/graph/jwt.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

namespace oa::graph {
namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
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

std::unique_ptr<FILE, FileCloser> Open(const std::string& path) {
  return std::unique_ptr<FILE, FileCloser>(std::fopen(path.c_str(), "rb"));
}

std::string Bytes(const unsigned char* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

std::string Base64Url(const std::string& bytes) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  size_t i = 0;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (b[i] << 16) | (b[i + 1] << 8) | b[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = b[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
  } else if (i + 2 == bytes.size()) {
    const unsigned v = (b[i] << 16) | (b[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

std::optional<std::string> ClientAssertion(const std::string& certFile, const std::string& keyFile,
                                           const std::string& clientId, const std::string& audience,
                                           std::string* error) {
  auto cf = Open(certFile);
  if (!cf) {
    *error = "The certificate file " + certFile + " cannot be read.";
    return std::nullopt;
  }
  std::unique_ptr<X509, X509Free> cert(PEM_read_X509(cf.get(), nullptr, nullptr, nullptr));
  if (!cert) {
    *error = "The certificate file " + certFile + " holds no PEM certificate.";
    return std::nullopt;
  }
  const std::string& keyPath = keyFile.empty() ? certFile : keyFile;
  auto kf = Open(keyPath);
  if (!kf) {
    *error = "The private key file " + keyPath + " cannot be read.";
    return std::nullopt;
  }
  std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_PrivateKey(kf.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA) {
    *error = "The private key file " + keyPath +
             " holds no unencrypted RSA private key in PEM (RS256 needs one).";
    return std::nullopt;
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    *error = "The private key in " + keyPath + " does not belong to the certificate in " +
             certFile + ".";
    return std::nullopt;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLen = 0;
  X509_digest(cert.get(), EVP_sha256(), digest, &digestLen);
  unsigned char nonce[16];
  RAND_bytes(nonce, sizeof nonce);
  const long now = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
  nlohmann::json header = {
      {"alg", "RS256"}, {"typ", "JWT"}, {"x5t#S256", Base64Url(Bytes(digest, digestLen))}};
  nlohmann::json claims = {{"aud", audience}, {"iss", clientId},
                           {"sub", clientId}, {"jti", Base64Url(Bytes(nonce, sizeof nonce))},
                           {"iat", now},      {"nbf", now},
                           {"exp", now + 600}};
  const std::string signingInput = Base64Url(header.dump()) + "." + Base64Url(claims.dump());
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  size_t sigLen = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &sigLen,
                     reinterpret_cast<const unsigned char*>(signingInput.data()),
                     signingInput.size()) != 1) {
    *error = "The client assertion could not be signed with the key in " + keyPath + ".";
    return std::nullopt;
  }
  std::string sig(sigLen, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &sigLen,
                     reinterpret_cast<const unsigned char*>(signingInput.data()),
                     signingInput.size()) != 1) {
    *error = "The client assertion could not be signed with the key in " + keyPath + ".";
    return std::nullopt;
  }
  sig.resize(sigLen);
  return signingInput + "." + Base64Url(sig);
}

}  // namespace oa::graph
