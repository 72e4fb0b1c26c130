// Held-back deletes through the session the program really builds: the class registered as
// "OAHelper.RDOSession", a routing session that picked the EWS backend at the logon. A pause
// for the user or a message box sends the group through it as through the bare backend.
#include <gtest/gtest.h>

#include "base/mapi_error.h"
#include "console/form.h"
#include "mailbox/backends.h"
#include "mailbox/model/session_registry.h"
#include "tests/ews/server_fixture.h"
#include "tests/support/recording_console.h"

namespace oa::ews::testing {

using console::ActivityLog;
using console::Form;
using mailbox::RunHost;

namespace {

using namespace oa::mailbox;
using oa::testing::Dump;
using oa::testing::MailboxStore;

class RoutedHeldBack : public LoggedOnServedStore {
 protected:
  // The program's session, logged on to "jdoe" at the loopback server.
  std::shared_ptr<RDOSession> ProgramSession() {
    RegisterSessionClasses(backends);
    Err().Clear();
    auto s = CreateObject(kSessionProgID);
    if (!s) return nullptr;
    s->LogonExchangeMailbox("jdoe", server->url());
    EXPECT_TRUE(s->LoggedOn()) << Err().Description();
    EXPECT_EQ(std::dynamic_pointer_cast<EwsSession>(s), nullptr) << "not the bare backend";
    return s;
  }
  std::shared_ptr<RDOItems> HandheldsItems(RDOSession& s) {
    return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items();
  }
  int64_t StoredCount() {
    nlohmann::json dump = oa::testing::ExportStore(storeFile);
    const nlohmann::json* f =
        oa::testing::FindTopFolder(*oa::testing::FindStore(dump, "jdoe"), "Handhelds");
    return f ? f->value("count", int64_t{-1}) : -1;
  }
  int DeleteItemsSent() { return server->OperationCount("DeleteItem"); }

  oa::testing::RecordingConsole console;
};

TEST_F(RoutedHeldBack, APauseForTheUserOrAMessageBoxSendsTheGroup) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 10})}));
  auto s = ProgramSession();
  ASSERT_TRUE(s);
  auto items = HandheldsItems(*s);
  Form form(console, ActivityLog(dir / "log"));
  form.run().RDO = s;
  RunHost& host = form.run().host();
  items->GetFirst()->Delete();
  items->GetFirst()->Delete();
  host.DoEvents();  // nothing for the user: the group keeps waiting
  EXPECT_EQ(StoredCount(), 10);
  EXPECT_EQ(DeleteItemsSent(), 0);
  console.inputHandled = true;
  host.DoEvents();
  EXPECT_EQ(StoredCount(), 8);
  EXPECT_EQ(DeleteItemsSent(), 1);
  console.inputHandled = false;
  items->GetFirst()->Delete();
  host.MsgBox("shown");
  EXPECT_EQ(StoredCount(), 7);
  EXPECT_EQ(DeleteItemsSent(), 2);
  EXPECT_EQ(console.msgBoxes, std::vector<std::string>{"shown"});
}

}  // namespace
}  // namespace oa::ews::testing
