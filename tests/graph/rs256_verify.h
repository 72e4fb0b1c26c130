// An RS256 signature checked with the public key of a PEM certificate, by the system's crypto.
#pragma once

#include <string>

namespace oa::graph::testing {

bool VerifyRs256(const std::string& certPem, const std::string& data, const std::string& sig);

}  // namespace oa::graph::testing
