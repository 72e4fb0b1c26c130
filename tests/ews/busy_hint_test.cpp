// A server that keeps saying it is busy but asks for no wait (BackOffMilliseconds 0, or a
// negative one) gets our own growing waits, not a storm of requests, and the call still ends
// within its budget.
#include <gtest/gtest.h>

#include <chrono>

#include "base/mapi_error.h"
#include "mailbox/ews/client.h"
#include "mailbox/model/const_mapi.h"
#include "tests/ews/server_fixture.h"

namespace oa::ews::testing {
namespace {

using oa::testing::Dump;
using oa::testing::MailboxStore;

class BusyHint : public ServedStore {
 protected:
  std::optional<Response> Resolve() {
    ClientOptions o;
    o.url = server->url();
    o.user = user;
    o.password = password;
    o.caFile = server->caFile();
    o.maxWait = std::chrono::seconds(3);
    Client c(o);
    auto req = c.NewRequest("ResolveNames");
    req->op().append_attribute("ReturnFullContactData") = "false";
    AddText(req->op(), "m:UnresolvedEntry", "jdoe");
    return c.Call(*req);
  }
  // ResolveNames requests that passed authentication, answered or turned away.
  int64_t Sent() {
    int64_t n = 0;
    for (const auto& r : server->Requests()) n += r.authorized && r.operation == "ResolveNames";
    return n;
  }
};

TEST_F(BusyHint, AHintOfNoWaitIsNoStorm) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  for (int millis : {0, -5, 100}) {
    const int64_t before = Sent();
    server->AddTrouble({Trouble::Kind::ServerBusy, "ResolveNames", 0, -1, millis});
    EXPECT_FALSE(Resolve()) << millis;
    EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_CALL_FAILED) << millis;
    EXPECT_EQ(Err().Description(),
              "The server cannot service this request right now. Try again later.");
    // 500 ms doubling within 3 s: three or four requests; the fault sent thousands.
    const int64_t sent = Sent() - before;
    EXPECT_GE(sent, 1) << millis;
    EXPECT_LE(sent, 20) << millis;
  }
}

TEST_F(BusyHint, AHintBeyondTheBudgetFailsAtOnce) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  server->AddTrouble({Trouble::Kind::ServerBusy, "ResolveNames", 0, -1, 2000000000});
  EXPECT_FALSE(Resolve());
  EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_CALL_FAILED);
  EXPECT_EQ(Sent(), 1);
}

}  // namespace
}  // namespace oa::ews::testing
