// Logon of the shared session: creation, reuse, and every way the logon can fail.
#include <gtest/gtest.h>

#include "mailbox/model/session_registry.h"
#include "tests/mailbox/store_fixture.h"

namespace oa::testing {

namespace {

const Lines kFound = {"GetAgentMessage filter returned agent message ID",
                      "GetAgentMessage found existing agent message"};

class Logon : public StoreRun {
 protected:
  void SetUp() override {
    StoreRun::SetUp();
    Import(AgentDump(Json::array({Message("agent", "2026-03-01T09:00:00Z", "ondavelAgent",
                                          "ondavel.Agent", {{"HHPath", "\\Handhelds"}})})));
  }
};

TEST_F(Logon, FirstRunCreatesTheSessionAndFindsTheAgentMessage) {
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), kFound));
  EXPECT_TRUE(host.msgBoxes.empty());
  ASSERT_TRUE(host.run().RDO);
  EXPECT_TRUE(host.run().RDO->LoggedOn());
  EXPECT_EQ(host.run().hhPath, "\\Handhelds");
}

TEST_F(Logon, SecondRunReusesTheSession) {
  ASSERT_TRUE(Connect("jdoe"));
  const std::shared_ptr<mailbox::RDOSession> first = host.run().RDO;
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(false), kFound));
  EXPECT_EQ(host.run().RDO, first);
}

TEST_F(Logon, LibraryNotRegistered) {
  mailbox::UnregisterSessionClass(mailbox::kSessionProgID);
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(host.results, (Lines{"instantiating RDO", "no RDO"}));
  EXPECT_EQ(host.msgBoxes, (Lines{"Unable to create MAPI session!"}));
  EXPECT_FALSE(host.run().RDO);

  // The next run tries again and, with the class back, gets through.
  store::RegisterEmbeddedSessionClass();
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), kFound));
}

TEST_F(Logon, UnknownServer) {
  // A server name that is no path names a store file in the store directory.
  // (How the program takes the directory from OA_STORE_DIR is the configuration's, tested there.)
  store::RegisterEmbeddedSessionClass(dir());
  const std::string description =
      "The server exch01 could not be reached: there is no store file " + dir() + "/exch01.oastore";
  EXPECT_FALSE(Connect("jdoe", "exch01"));
  EXPECT_EQ(host.results, (Lines{"instantiating RDO", "Logging on with jdoe exch01",
                                 "RDO.LoggedOn = False -2147221227 " + description}));
  EXPECT_EQ(host.msgBoxes,
            (Lines{"Unable to logon using dynamic profile exch01 jdoe\r\n" + description}));
  // The session stays for the next run, which may name the right server.
  ASSERT_TRUE(host.run().RDO);
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(false), kFound));
}

TEST_F(Logon, ServerTextIsUsedUnchanged) {
  EXPECT_FALSE(Connect("jdoe", " " + storePath));
  ASSERT_EQ(host.results.size(), 3u);
  EXPECT_EQ(host.results[1], "Logging on with jdoe  " + storePath);
  EXPECT_EQ(host.results[2].rfind("RDO.LoggedOn = False -", 0), 0u) << host.results[2];
}

TEST_F(Logon, UnknownMailbox) {
  const std::string description =
      "Logon to server " + storePath + " failed: there is no mailbox nobody";
  EXPECT_FALSE(Connect("nobody"));
  EXPECT_EQ(host.results, (Lines{"instantiating RDO", "Logging on with nobody " + storePath,
                                 "RDO.LoggedOn = False -2147221231 " + description}));
  EXPECT_EQ(host.msgBoxes, (Lines{"Unable to logon using dynamic profile " + storePath +
                                  " nobody\r\n" + description}));
}

class LogonFault : public StoreRun {};

TEST_F(LogonFault, SilentLogonThatStaysLoggedOff) {
  Import(AgentDump(Json::array({Message("agent", "2026-03-01T09:00:00Z")}),
                   Json::array({{{"op", "Session.LogonExchangeMailbox"},
                                 {"error", "0x80040111"},
                                 {"effect", "silent"}}})));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(host.results, (Lines{"instantiating RDO", "Logging on with jdoe " + storePath,
                                 "RDO.LoggedOn = False 0 "}));
  EXPECT_EQ(host.msgBoxes,
            (Lines{"Unable to logon using dynamic profile " + storePath + " jdoe\r\n"}));
}

TEST_F(LogonFault, ErrorsBeforeTheLogonAreNotItsError) {
  oa::Err().Raise(mailbox::ConstMAPI::MAPI_E_CALL_FAILED, "stale");
  Import(AgentDump(Json::array(), Json::array({{{"op", "Session.LogonExchangeMailbox"},
                                                {"error", "0x80040111"},
                                                {"effect", "silent"}}})));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(host.results.back(), "RDO.LoggedOn = False 0 ");
  // The caller's pending error is its own again.
  EXPECT_EQ(oa::Err().Description(), "stale");
  oa::Err().Clear();
}

TEST_F(LogonFault, MailboxWithoutAgentMessage) {
  Import(AgentDump(Json::array()));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), {"GetAgentMessage no messages in AgentInfo folder",
                                              "GetAgentMessage found no existing agent message",
                                              "Failed to access agent folders"}));
  EXPECT_TRUE(host.msgBoxes.empty());
}

}  // namespace
}  // namespace oa::testing
