// libFuzzer entry over the EWS answer reading: any body is either refused with a message or
// read into response messages whose every field can be read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mailbox/ews/soap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto response = oa::ews::ParseResponse(body, &error);
  if (!response) {
    if (error.empty()) std::abort();
    return 0;
  }
  std::size_t total = response->fault ? 1 : 0;
  for (const auto& m : response->messages) {
    total += m.responseClass.size() + m.code.size() + m.text.size();
    if (m.backOffMs) total += static_cast<std::size_t>(*m.backOffMs & 1);
    total += m.ok() ? 1 : 0;
    total += oa::ews::ChildText(m.node, "MessageText").size();
    total += static_cast<std::size_t>(oa::ews::MapiErrorForCode(m.code) & 1);
  }
  return total == static_cast<std::size_t>(-1) ? 1 : 0;
}
