// Logon of the shared session: creation, reuse, and every way the logon can fail.
#include <gtest/gtest.h>

#include "mailbox/model/session_registry.h"
#include "tests/mailbox/store_fixture.h"

namespace oa::testing {

using console::Control;

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
  EXPECT_EQ(console.results, Join(LogonLines(), kFound));
  EXPECT_TRUE(console.msgBoxes.empty());
  ASSERT_TRUE(form->run().RDO);
  EXPECT_TRUE(form->run().RDO->LoggedOn());
  EXPECT_EQ(form->run().hhPath, "\\Handhelds");
}

TEST_F(Logon, SecondRunReusesTheSession) {
  ASSERT_TRUE(Connect("jdoe"));
  const std::shared_ptr<mailbox::RDOSession> first = form->run().RDO;
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(console.results, Join(LogonLines(false), kFound));
  EXPECT_EQ(form->run().RDO, first);
}

TEST_F(Logon, LibraryNotRegistered) {
  mailbox::UnregisterSessionClass(mailbox::kSessionProgID);
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(console.results, (Lines{"instantiating RDO", "no RDO"}));
  EXPECT_EQ(console.msgBoxes, (Lines{"Unable to create MAPI session!"}));
  EXPECT_FALSE(form->run().RDO);

  // The next run tries again and, with the class back, gets through.
  store::RegisterEmbeddedSessionClass();
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(console.results, Join(LogonLines(), kFound));
}

TEST_F(Logon, UnknownServer) {
  // A server name that is no path names a store file in the store directory.
  setenv("OA_STORE_DIR", dir().c_str(), 1);
  store::RegisterEmbeddedSessionClass(oa::testing::BackendOptionsFromEnvironment().storeDirectory);
  const std::string description =
      "The server exch01 could not be reached: there is no store file " + dir() + "/exch01.oastore";
  EXPECT_FALSE(Connect("jdoe", "exch01"));
  EXPECT_EQ(console.results, (Lines{"instantiating RDO", "Logging on with jdoe exch01",
                                    "RDO.LoggedOn = False -2147221227 " + description}));
  EXPECT_EQ(console.msgBoxes,
            (Lines{"Unable to logon using dynamic profile exch01 jdoe\r\n" + description}));
  // The session stays for the next run, which may name the right server.
  ASSERT_TRUE(form->run().RDO);
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(console.results, Join(LogonLines(false), kFound));
}

TEST_F(Logon, ServerTextIsUsedUnchanged) {
  EXPECT_FALSE(Connect("jdoe", " " + storePath));
  ASSERT_EQ(console.results.size(), 3u);
  EXPECT_EQ(console.results[1], "Logging on with jdoe  " + storePath);
  EXPECT_EQ(console.results[2].rfind("RDO.LoggedOn = False -", 0), 0u) << console.results[2];
}

TEST_F(Logon, UnknownMailbox) {
  const std::string description =
      "Logon to server " + storePath + " failed: there is no mailbox nobody";
  EXPECT_FALSE(Connect("nobody"));
  EXPECT_EQ(console.results, (Lines{"instantiating RDO", "Logging on with nobody " + storePath,
                                    "RDO.LoggedOn = False -2147221231 " + description}));
  EXPECT_EQ(console.msgBoxes, (Lines{"Unable to logon using dynamic profile " + storePath +
                                     " nobody\r\n" + description}));
}

class LogonFault : public StoreRun {};

TEST_F(LogonFault, SilentLogonThatStaysLoggedOff) {
  Import(AgentDump(Json::array({Message("agent", "2026-03-01T09:00:00Z")}),
                   Json::array({{{"op", "Session.LogonExchangeMailbox"},
                                 {"error", "0x80040111"},
                                 {"effect", "silent"}}})));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(console.results, (Lines{"instantiating RDO", "Logging on with jdoe " + storePath,
                                    "RDO.LoggedOn = False 0 "}));
  EXPECT_EQ(console.msgBoxes,
            (Lines{"Unable to logon using dynamic profile " + storePath + " jdoe\r\n"}));
}

TEST_F(LogonFault, ErrorsBeforeTheLogonAreNotItsError) {
  oa::Err().Raise(mailbox::ConstMAPI::MAPI_E_CALL_FAILED, "stale");
  Import(AgentDump(Json::array(), Json::array({{{"op", "Session.LogonExchangeMailbox"},
                                                {"error", "0x80040111"},
                                                {"effect", "silent"}}})));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(console.results.back(), "RDO.LoggedOn = False 0 ");
  // The caller's pending error is its own again.
  EXPECT_EQ(oa::Err().Description(), "stale");
  oa::Err().Clear();
}

TEST_F(LogonFault, MailboxWithoutAgentMessage) {
  Import(AgentDump(Json::array()));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(console.results, Join(LogonLines(), {"GetAgentMessage no messages in AgentInfo folder",
                                                 "GetAgentMessage found no existing agent message",
                                                 "Failed to access agent folders"}));
  EXPECT_TRUE(console.msgBoxes.empty());
}

TEST_F(Logon, CancelDuringTheLogonEndsTheRunAndReleasesTheSession) {
  console.texts[Control::txtExServer] = storePath;
  console.texts[Control::txtAlias] = "jdoe";
  bool clicked = false;
  console.onEvents = [&] {
    if (!clicked && !console.results.empty() &&
        console.results.back().rfind("Logging on", 0) == 0) {
      clicked = true;
      form->cmdCancel_Click();
    }
  };
  form->cmdOK_Click();
  EXPECT_EQ(console.results, (Lines{"instantiating RDO", "Logging on with jdoe " + storePath}));
  EXPECT_FALSE(form->run().RDO);
  EXPECT_TRUE(form->run().bCancel);
}

}  // namespace
}  // namespace oa::testing
