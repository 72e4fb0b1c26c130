// The Graph mail operations of the test server, answered from a store file through the object
// model; the store's errors (declared faults included) become Graph errors with the store's text.
#pragma once

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mailbox/model/rdo.h"
#include "mailbox/model/session_registry.h"
#include "tests/graph/graph_test_server.h"

namespace oa::graph::testing {

struct GraphCall {
  std::string method;
  std::string path;  // decoded, from /v1.0 on
  std::multimap<std::string, std::string> params;
  std::string body;
  std::string base;  // the server's URL, for next links
  // Out:
  int status = 200;
  std::string operation;
};

class GraphEndpoint {
 public:
  GraphEndpoint(std::string storeFile, std::vector<GraphMailbox> mailboxes);
  // The answer's body (empty for 204); status and operation set on the call.
  std::string Handle(GraphCall& c);

 private:
  struct Ctx {
    GraphCall& c;
    int mailbox = 0;
    std::shared_ptr<oa::mailbox::RDOSession> s;
    std::vector<std::string> expanded;  // the extended property IDs asked for
    nlohmann::json Fail(int status, const std::string& code, const std::string& message);
    // The pending store error as Graph answers it.
    nlohmann::json FailFromErr();
  };
  std::shared_ptr<oa::mailbox::RDOSession> Session(int mailbox);
  int MailboxIndex(const std::string& text) const;
  nlohmann::json Users(Ctx& x);
  nlohmann::json Folder(Ctx& x, const std::string& id, const std::vector<std::string>& rest);
  nlohmann::json Messages(Ctx& x, const std::shared_ptr<oa::mailbox::RDOFolder>& folder);
  nlohmann::json Message(Ctx& x, const std::string& id, const std::vector<std::string>& rest);
  nlohmann::json Translate(Ctx& x);

  std::string storeFile_;
  std::vector<GraphMailbox> mailboxes_;
  oa::mailbox::SessionFactory factory_;
  std::map<int, std::shared_ptr<oa::mailbox::RDOSession>> sessions_;
};

}  // namespace oa::graph::testing
