// The client assertion of a certificate sign-in: a JWT signed RS256 with the certificate's
// private key, naming the certificate by its SHA-256 thumbprint (x5t#S256).
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace oa::graph {

// Base64url without padding, as JWTs use it, and back (nullopt for a character outside it).
std::string Base64Url(const std::string& bytes);
std::optional<std::string> FromBase64Url(const std::string& text);

// The signed assertion for the audience (the token endpoint's URL) or nullopt with *error set
// (naming the file and the reason; never the key's content).
std::optional<std::string> ClientAssertion(const std::string& certFile, const std::string& keyFile,
                                           const std::string& clientId, const std::string& audience,
                                           std::string* error);

// A certificate and its RSA private key, read from PEM files with the system's crypto library.
class CertificateKey {
 public:
  virtual ~CertificateKey() = default;
  // SHA-256 of the certificate's DER encoding.
  virtual std::string Thumbprint() const = 0;
  // RSASSA-PKCS1-v1_5 over SHA-256 of `data`; nullopt when the library refuses.
  virtual std::optional<std::string> SignRs256(const std::string& data) = 0;
};

// Reads the certificate and the key (from the certificate's file when keyFile is empty) and
// checks that they belong together; null with *error naming the file and the reason.
std::unique_ptr<CertificateKey> LoadCertificateKey(const std::string& certFile,
                                                   const std::string& keyFile, std::string* error);

// Windows: the certificate of this thumbprint (ParseThumbprint's text) in the current user's
// personal store, else the machine's, with its private key used where the store keeps it (never
// exported). Null with *error naming the thumbprint and the reason; elsewhere always null.
std::unique_ptr<CertificateKey> LoadStoreCertificateKey(const std::string& thumbprint,
                                                        std::string* error);

// The signed assertion with a key already loaded; `keyName` names it in an error.
std::optional<std::string> ClientAssertion(std::unique_ptr<CertificateKey> key,
                                           const std::string& keyName, const std::string& clientId,
                                           const std::string& audience, std::string* error);

// Bytes from the system's random generator.
std::string RandomBytes(size_t n);

}  // namespace oa::graph
