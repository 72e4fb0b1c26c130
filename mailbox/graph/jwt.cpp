#include "mailbox/graph/jwt.h"

#include <chrono>
#include <nlohmann/json.hpp>

namespace oa::graph {

std::optional<std::string> ClientAssertion(const std::string& certFile, const std::string& keyFile,
                                           const std::string& clientId, const std::string& audience,
                                           std::string* error) {
  auto key = LoadCertificateKey(certFile, keyFile, error);
  if (!key) return std::nullopt;
  return ClientAssertion(std::move(key), "the key in " + (keyFile.empty() ? certFile : keyFile),
                         clientId, audience, error);
}

std::optional<std::string> ClientAssertion(std::unique_ptr<CertificateKey> key,
                                           const std::string& keyName, const std::string& clientId,
                                           const std::string& audience, std::string* error) {
  const long now = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
  nlohmann::json header = {
      {"alg", "RS256"}, {"typ", "JWT"}, {"x5t#S256", Base64Url(key->Thumbprint())}};
  nlohmann::json claims = {
      {"aud", audience}, {"iss", clientId}, {"sub", clientId}, {"jti", Base64Url(RandomBytes(16))},
      {"iat", now},      {"nbf", now},      {"exp", now + 600}};
  const std::string signingInput = Base64Url(header.dump()) + "." + Base64Url(claims.dump());
  auto sig = key->SignRs256(signingInput);
  if (!sig) {
    *error = "The client assertion could not be signed with " + keyName + ".";
    return std::nullopt;
  }
  return signingInput + "." + Base64Url(*sig);
}

}  // namespace oa::graph
