// A session that reaches nothing: each lookup finds nothing and nothing is held back, so a test
// session overrides only the calls its test is about (the logon, the logoff).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mailbox/model/rdo.h"

namespace oa::testing {

class NullSession : public mailbox::RDOSession {
 public:
  void LogonExchangeMailbox(const std::string&, const std::string&) override {}
  void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                    const std::string& server) override {
    LogonExchangeMailbox(mailbox, server);
  }
  bool LoggedOn() override { return false; }
  void Logoff() override {}
  std::shared_ptr<mailbox::RDOStores> Stores() override { return nullptr; }
  std::shared_ptr<mailbox::RDOFolder> GetDefaultFolder(int32_t) override { return nullptr; }
  std::shared_ptr<mailbox::RDOMail> GetMessageFromID(const std::string&,
                                                     const std::string&) override {
    return nullptr;
  }
  std::shared_ptr<mailbox::RDOFolder> GetFolderFromID(const std::string&,
                                                      const std::string&) override {
    return nullptr;
  }
  void SendHeldBack() override {}
  bool CheckRepointReads(const std::string& id, mailbox::RDOFolder& folder) override {
    return mailbox::CheckRepointReadsThrough(*this, id, folder);
  }
};

}  // namespace oa::testing
