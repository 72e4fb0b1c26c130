// The client assertion of a certificate sign-in: a JWT signed RS256 with the certificate's
// private key, naming the certificate by its SHA-256 thumbprint (x5t#S256).
#pragma once

#include <optional>
#include <string>

namespace oa::graph {

// Base64url without padding, as JWTs use it.
std::string Base64Url(const std::string& bytes);

// The signed assertion for the audience (the token endpoint's URL) or nullopt with *error set
// (naming the file and the reason; never the key's content).
std::optional<std::string> ClientAssertion(const std::string& certFile, const std::string& keyFile,
                                           const std::string& clientId, const std::string& audience,
                                           std::string* error);

}  // namespace oa::graph
