// The server's half of NTLM for the loopback EWS server: the challenge (type 2) for a client's
// negotiate message (type 1), and the check of its authenticate message (type 3) against the
// known user and password. Only NTLMv2 responses are taken, as current Exchange servers do.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oa::ews::testing {

using NtlmChallenge = std::array<uint8_t, 8>;

// The type 2 message answering a type 1 message, with a fresh random challenge in *challenge;
// nothing when `negotiate` is not a type 1 message.
std::optional<std::vector<uint8_t>> NtlmChallengeFor(const std::vector<uint8_t>& negotiate,
                                                     NtlmChallenge* challenge);

struct NtlmVerdict {
  bool ok = false;
  std::string user;    // as the client sent it
  std::string domain;  // as the client sent it
  std::string why;     // why it was refused
};

// Checks a type 3 message answering `challenge`: the user name (case-insensitive) and the
// NTLMv2 proof computed from the password.
NtlmVerdict NtlmVerify(const std::vector<uint8_t>& authenticate, const NtlmChallenge& challenge,
                       const std::string& user, const std::string& password);

// The message type (1, 2 or 3) of an NTLM message, 0 when it is none.
int NtlmMessageType(const std::vector<uint8_t>& message);

}  // namespace oa::ews::testing
