// The EWS operations of the test server, answered from a store file through the object model:
// each operation becomes the object model calls the embedded store offers, and the store's
// errors (declared faults included) become EWS response codes with the store's text.
#pragma once

#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "mailbox/model/rdo.h"
#include "mailbox/model/session_registry.h"
#include "tests/ews/ews_test_server.h"

namespace oa::ews::testing {

class StoreEndpoint {
 public:
  StoreEndpoint(std::string storeFile, std::vector<ServerMailbox> mailboxes);
  // The response body for a request body; *operation is set to the operation's name.
  std::string Handle(const std::string& body, std::string* operation);

 private:
  struct Call;
  std::shared_ptr<oa::mailbox::RDOSession> Session(int mailbox);
  int MailboxIndex(const std::string& text) const;

  void ResolveNames(Call& c);
  void ConvertId(Call& c);
  void GetFolder(Call& c);
  void FindFolder(Call& c);
  void CreateFolder(Call& c);
  void DeleteFolder(Call& c);
  void UpdateFolder(Call& c);
  void FindItem(Call& c);
  void GetItem(Call& c);
  void DeleteItem(Call& c);
  void UpdateItem(Call& c);

  std::string storeFile_;
  std::vector<ServerMailbox> mailboxes_;
  oa::mailbox::SessionFactory factory_;
  std::map<int, std::shared_ptr<oa::mailbox::RDOSession>> sessions_;
};

}  // namespace oa::ews::testing
