#include "mailbox/agent_message.h"

#include "console/form.h"

namespace oa {

// Placeholders until the agent message lookup lands.
std::shared_ptr<mailbox::RDOMail> GetAgentMessage(Form&) {
  return nullptr;
}
std::shared_ptr<mailbox::RDOMail> GetMessage(Form&, const std::string&, const std::string&) {
  return nullptr;
}

}  // namespace oa
