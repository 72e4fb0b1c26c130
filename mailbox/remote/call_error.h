// The error a mailbox call raises when the service could not be asked or did not answer, the
// same for every service: only the words that name who was asked differ.
#pragma once

#include <cstdint>
#include <string>

#include "mailbox/http/transport.h"

namespace oa::remote {

// A call given up because its wait for a busy service, or its request, was cancelled.
inline constexpr int32_t MAPI_E_USER_CANCEL = static_cast<int32_t>(0x80040501);

struct CallError {
  int32_t number;
  std::string description;
};

// Who a failure is told of, as the sentences of the descriptions name it.
struct Party {
  std::string name;     // within a sentence: "the server", "Microsoft Graph"
  std::string subject;  // starting one: "The server", "Microsoft Graph"
  std::string answer;   // "The server's answer", "The answer from Microsoft Graph"
};
// `name` as it reads at a sentence's start too ("Microsoft Graph", "the token endpoint").
Party PartyNamed(const std::string& name);
// An Exchange server: "the server", "The server".
Party TheServer();

// A request that got no answer (r.failure is no Failure::None) as the error the call raises.
CallError TransportError(const http::HttpResult& r, const Party& who);

// Raises the error on Err().
void Raise(const CallError& e);

}  // namespace oa::remote
