// A wait for a busy server cut short by the cancel check that a run without a window installs:
// the call fails at once with its own error, the session stays usable, and a later failure is
// not taken for a cancel.
#include <gtest/gtest.h>

#include <chrono>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/const_mapi.h"
#include "tests/ews/server_fixture.h"

namespace oa::ews::testing {
namespace {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using oa::testing::Dump;
using oa::testing::MailboxStore;

class WaitCancel : public ServedStore {
 protected:
  void TearDown() override {
    SetWaitCancelCheck({});
    SetWhileWaiting({});
    ServedStore::TearDown();
  }
  std::shared_ptr<RDOFolder> Handhelds(RDOSession& s) {
    Err().Clear();
    return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  }
};

TEST_F(WaitCancel, CheckEndsAMinuteLongBackOffAtOnce) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  EwsSession s(backends.ews, waiter);
  s.LogonExchangeMailbox("jdoe", server->url());
  ASSERT_TRUE(s.LoggedOn()) << Err().Description();

  server->AddTrouble({Trouble::Kind::ServerBusy, "FindFolder", 0, 1, 60000});
  int events = 0, asked = 0;
  SetWhileWaiting([&] { ++events; });
  SetWaitCancelCheck([&] { return ++asked >= 4; });
  EXPECT_FALSE(Handhelds(s));
  EXPECT_EQ(Err().Number(), MAPI_E_USER_CANCEL);
  EXPECT_EQ(Err().Description(), "The wait for the busy server was cancelled.");
  // The wait ended at the slice where the check said so, not at the minute's end: the window's
  // hook ran at every slice before the check, and no slice after it.
  EXPECT_EQ(events, 4);
  EXPECT_EQ(asked, 4);
  EXPECT_TRUE(s.LoggedOn());

  // The session goes on once the check lets waits be; a later failure keeps its own error.
  SetWaitCancelCheck({});
  EXPECT_TRUE(Handhelds(s)) << Err().Description();
  server->AddTrouble({Trouble::Kind::Http401, "FindFolder", 0, 1, 0});
  EXPECT_FALSE(Handhelds(s));
  EXPECT_EQ(Err().Number(), MAPI_E_LOGON_FAILED);
}

TEST_F(WaitCancel, ACheckThatNeverFiresLeavesTheWaitAsItWas) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  EwsSession s(backends.ews, waiter);
  SetWaitCancelCheck([] { return false; });
  server->AddTrouble({Trouble::Kind::ServerBusy, "ResolveNames", 0, 1, 300});
  const auto start = std::chrono::steady_clock::now();
  s.LogonExchangeMailbox("jdoe", server->url());
  EXPECT_TRUE(s.LoggedOn()) << Err().Description();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

  // During the logon too, a cancelled wait is a cancel.
  EwsSession t(backends.ews, waiter);
  SetWaitCancelCheck([] { return true; });
  server->AddTrouble({Trouble::Kind::ServerBusy, "ResolveNames", 0, 1, 60000});
  t.LogonExchangeMailbox("jdoe", server->url());
  EXPECT_FALSE(t.LoggedOn());
  EXPECT_EQ(Err().Number(), MAPI_E_USER_CANCEL);
}

}  // namespace
}  // namespace oa::ews::testing
