// Declared faults in front of the EWS backend: a cleanup over the loopback server, with a
// session that asks an in-memory ledger, takes the rename path when Folder.Delete fails.
#include "mailbox/model/fault_session.h"

#include <gtest/gtest.h>

#include "console/nowindow/run_without_window.h"
#include "mailbox/backends.h"
#include "mailbox/model/session_registry.h"
#include "tests/ews/server_fixture.h"

namespace oa::ews::testing {
namespace {

using oa::testing::Dump;
using oa::testing::MailboxStore;

class FaultsOverEws : public ServedStore {};

TEST_F(FaultsOverEws, AFailingFolderDeleteTakesTheRenamePath) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 40})}));
  oa::testing::WriteFile(dir / "user.reg", "");
  oa::testing::WriteFile(dir / "machine.reg", "");
  setenv("OA_REGISTRY_USER", (dir / "user.reg").c_str(), 1);
  setenv("OA_REGISTRY_MACHINE", (dir / "machine.reg").c_str(), 1);

  auto ledger = std::make_shared<mailbox::MemoryFaultLedger>();
  mailbox::FaultRule rule;
  rule.op = mailbox::FaultOp::FolderDelete;
  rule.times = 1;
  ledger->Add(rule);
  oa::testing::RegisterFromEnvironment();
  const mailbox::SessionFactory routing = mailbox::FindSessionClass(mailbox::kSessionProgID);
  mailbox::RegisterSessionClass(mailbox::kSessionProgID, [routing, ledger] {
    return mailbox::NewFaultSession(routing(), [ledger] { return ledger; });
  });

  nowindow::NoWindowOptions options;
  options.noWindow = true;
  options.server = server->url();
  options.mailbox = "jdoe";
  options.logFile = dir / "run.log";
  const int status =
      nowindow::RunWithoutWindow(options, oa::testing::RegistryFilesFromEnvironment());
  oa::testing::RegisterFromEnvironment();
  unsetenv("OA_REGISTRY_USER");
  unsetenv("OA_REGISTRY_MACHINE");

  EXPECT_EQ(status, 0);
  EXPECT_EQ(ledger->Seen(0), 1) << "the fault met no Folder.Delete";
  const std::string log = oa::testing::ReadFile(dir / "run.log");
  EXPECT_NE(log.find("failed to delete existing Handhelds folder; attempting rename"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("successfully renamed existing folder as "), std::string::npos) << log;
  EXPECT_NE(log.find("Deleted all items, attempting to delete folder"), std::string::npos) << log;
  // The served store: a new, empty Handhelds folder, and the renamed one gone.
  const nlohmann::json dump = oa::testing::ExportStore(storeFile);
  int handhelds = 0;
  for (const auto& f : dump["stores"][0]["root"]["folders"]) {
    for (const auto& child : f.value("folders", nlohmann::json::array())) {
      if (child.value("name", "") == "Handhelds") {
        ++handhelds;
        EXPECT_EQ(child.value("count", -1), 0);
      }
    }
  }
  EXPECT_EQ(handhelds, 1) << dump.dump(1);
  EXPECT_EQ(dump["stores"][0]["root"]["folders"].size(), 2u) << dump.dump(1);
}

}  // namespace
}  // namespace oa::ews::testing
