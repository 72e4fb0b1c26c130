// The agent message: found by the filter or by the scan, duplicates resolved by creation time,
// and GetMessage's confirmation and public store retry.
#include "mailbox/agent_message.h"

#include <gtest/gtest.h>

#include "mailbox/basRDO.h"
#include "tests/mailbox/store_fixture.h"

namespace oa::testing {

using mailbox::GetMessage;

namespace {

constexpr const char* kMar1 = "2026-03-01T09:00:00Z";
constexpr const char* kMar2 = "2026-03-02T10:30:00Z";
constexpr const char* kMar3 = "2026-03-03T23:15:07Z";
// The same instants as the C locale's general date in UTC.
constexpr const char* kMar2Text = "03/02/26 10:30:00";
constexpr const char* kMar3Text = "03/03/26 23:15:07";

const std::string kFilterOne = "GetAgentMessage filter returned agent message ID";
const std::string kFound = "GetAgentMessage found existing agent message";
const std::string kNotFound = "GetAgentMessage found no existing agent message";
const std::string kDeleting = "GetAgentMessage deleting extra agent message created ";

Json Note(const std::string& key) {
  return Message(key, kMar1, "Hello", "IPM.Note");
}

Json Fault(const std::string& op, const std::string& target, Json extra = Json::object()) {
  Json f{{"op", op}, {"target", target}, {"error", "0x80004005"}};
  f.update(extra);
  return f;
}

std::vector<std::string> Keys(const Json& messages) {
  std::vector<std::string> keys;
  for (const Json& m : messages) keys.push_back(m.value("key", ""));
  return keys;
}

class AgentMessage : public StoreRun {
 protected:
  // Logs on and runs the lookup; returns the lines after the logon.
  Lines RunLookup(const Json& messages, const Json& faults = Json::array()) {
    Import(AgentDump(messages, faults));
    found_ = Connect("jdoe");
    Lines after(host.results.begin() + std::min<size_t>(4, host.results.size()),
                host.results.end());
    if (!after.empty() && after.back() == "Failed to access agent folders") after.pop_back();
    return after;
  }
  bool found_ = false;
};

TEST_F(AgentMessage, OneFoundByTheFilter) {
  EXPECT_EQ(RunLookup(Json::array({Note("n1"), Message("agent", kMar1)})),
            (Lines{kFilterOne, kFound}));
  EXPECT_TRUE(found_);
  EXPECT_EQ(host.run().agentMessageEntryID, EntryIDOf("agent"));
  EXPECT_FALSE(host.run().agentMessageEntryID.empty());
}

TEST_F(AgentMessage, TwoDuplicatesNewerFirstKeepsTheOlder) {
  EXPECT_EQ(RunLookup(Json::array({Message("new", kMar2), Message("old", kMar1)})),
            (Lines{"GetAgentMessage filter returned 2 ID(s) for agent message",
                   kDeleting + kMar2Text, kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"old"}));
  EXPECT_EQ(host.run().agentMessageEntryID, EntryIDOf("old"));
}

TEST_F(AgentMessage, TwoDuplicatesOlderFirstKeepsTheOlder) {
  EXPECT_EQ(RunLookup(Json::array({Message("old", kMar1), Message("new", kMar2)})),
            (Lines{"GetAgentMessage filter returned 2 ID(s) for agent message",
                   kDeleting + kMar2Text, kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"old"}));
}

TEST_F(AgentMessage, ThreeDuplicatesByTheFilter) {
  EXPECT_EQ(RunLookup(Json::array(
                {Message("mid", kMar2), Message("newest", kMar3), Message("old", kMar1)})),
            (Lines{"GetAgentMessage filter returned 3 ID(s) for agent message",
                   kDeleting + kMar3Text, kDeleting + kMar2Text, kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"old"}));
}

TEST_F(AgentMessage, SameCreationTimeKeepsTheFirstMet) {
  Import(AgentDump(Json::array({Message("a", kMar2), Message("b", kMar2)})));
  ASSERT_TRUE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), {"GetAgentMessage filter returned 2 ID(s) for "
                                              "agent message",
                                              kDeleting + kMar2Text, kFound}));
  const Json left = AgentInfoMessages();
  ASSERT_EQ(left.size(), 1u);
  // The table gives the messages in the order they were stored.
  EXPECT_EQ(left[0]["key"], "a");
}

TEST_F(AgentMessage, FilterFindsNothingAndTheScanFindsOne) {
  EXPECT_EQ(RunLookup(Json::array({Note("n1"), Message("agent", kMar1, "Agent data"), Note("n2")})),
            (Lines{"GetAgentMessage nothing returned by filter; iterating through 3", kFound}));
  EXPECT_TRUE(found_);
  EXPECT_EQ(host.run().agentMessageEntryID, EntryIDOf("agent"));
}

TEST_F(AgentMessage, ScanWithThreeDuplicatesExaminesEveryItemOnce) {
  // Deleting the second item shifts the third into its place: it must still be examined.
  EXPECT_EQ(RunLookup(Json::array({Message("mid", kMar2, "x"), Message("newest", kMar3, "x"),
                                   Message("old", kMar1, "x"), Note("n1")})),
            (Lines{"GetAgentMessage nothing returned by filter; iterating through 4",
                   kDeleting + kMar3Text, kDeleting + kMar2Text, kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"old", "n1"}));
  EXPECT_EQ(host.run().agentMessageEntryID, EntryIDOf("old"));
}

TEST_F(AgentMessage, ScanTakesTheClassOnlyInItsExactCase) {
  EXPECT_EQ(RunLookup(Json::array({Message("agent", kMar1, "x", "Ondavel.agent"), Note("n1")})),
            (Lines{"GetAgentMessage nothing returned by filter; iterating through 2", kNotFound}));
  EXPECT_FALSE(found_);
  EXPECT_EQ(AgentInfoMessages().size(), 2u);
}

TEST_F(AgentMessage, FilterIgnoresTheCaseOfClassAndSubject) {
  EXPECT_EQ(RunLookup(Json::array({Message("agent", kMar1, "ONDAVELagent", "Ondavel.AGENT")})),
            (Lines{kFilterOne, kFound}));
}

TEST_F(AgentMessage, FolderWithoutAgentMessage) {
  EXPECT_EQ(RunLookup(Json::array({Note("n1")})),
            (Lines{"GetAgentMessage nothing returned by filter; iterating through 1", kNotFound}));
}

TEST_F(AgentMessage, NotFoundLeavesThePreviousEntryID) {
  host.run().agentMessageEntryID = "0011";
  RunLookup(Json::array());
  EXPECT_EQ(host.run().agentMessageEntryID, "0011");
}

// Entries that cannot be opened or whose class or creation time cannot be read never cost the
// message kept so far its place; they are left alone.
TEST_F(AgentMessage, KeptMessageWithUnreadableCreationTimeIsNotDeleted) {
  EXPECT_EQ(RunLookup(Json::array({Message("new", kMar2), Message("old", kMar1)}),
                      Json::array({Fault("Mail.CreationTime", "new")})),
            (Lines{"GetAgentMessage filter returned 2 ID(s) for agent message", kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"new", "old"}));
  EXPECT_EQ(host.run().agentMessageEntryID, EntryIDOf("new"));
}

TEST_F(AgentMessage, EntryWithUnreadableCreationTimeIsSkipped) {
  EXPECT_EQ(RunLookup(Json::array({Message("new", kMar2), Message("old", kMar1)}),
                      Json::array({Fault("Mail.CreationTime", "old")})),
            (Lines{"GetAgentMessage filter returned 2 ID(s) for agent message", kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"new", "old"}));
  EXPECT_EQ(host.run().agentMessageEntryID, EntryIDOf("new"));
}

TEST_F(AgentMessage, EntryThatCannotBeOpenedIsSkipped) {
  EXPECT_EQ(RunLookup(Json::array({Message("new", kMar2), Message("old", kMar1)}),
                      Json::array({Fault("Session.GetMessageFromID", "old")})),
            (Lines{"GetAgentMessage filter returned 2 ID(s) for agent message", kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"new", "old"}));
  EXPECT_EQ(host.run().agentMessageEntryID, EntryIDOf("new"));
}

TEST_F(AgentMessage, ScannedItemWithUnreadableClassIsLeftAlone) {
  EXPECT_EQ(RunLookup(Json::array({Message("new", kMar2, "x"), Message("old", kMar1, "x")}),
                      Json::array({Fault("Mail.MessageClass", "old")})),
            (Lines{"GetAgentMessage nothing returned by filter; iterating through 2", kFound}));
  EXPECT_EQ(Keys(AgentInfoMessages()), (std::vector<std::string>{"new", "old"}));
}

class GetMessageRetry : public StoreRun {
 protected:
  void SetUp() override {
    StoreRun::SetUp();
    Json folder{{"name", "Agents"}, {"messages", Json::array({Message("pub", kMar1)})}};
    Json inbox{{"name", "Inbox"},
               {"messages", Json::array({Message("probe", kMar1, "Hi", "IPM.Note")})}};
    Import(Dump(Json::array({MailboxStore("jdoe", Json::array({AgentInfoFolder(Json::array(
                                                                   {Message("agent", kMar1)})),
                                                               inbox})),
                             PublicStore(Json::array({Json{{"name", "IPM_SUBTREE"},
                                                           {"allPublicFolders", true},
                                                           {"folders", Json::array({folder})}}}))}),
                faults_));
    ASSERT_TRUE(Connect("jdoe"));
    pubID_ = EntryIDOf("pub");
    publicStoreID_ = EntryIDOf("public");
    ASSERT_FALSE(pubID_.empty());
  }
  Json faults_ = Json::array();
  std::string pubID_;
  std::string publicStoreID_;
};

TEST_F(GetMessageRetry, MailboxMessageNeedsNoRetry) {
  std::shared_ptr<mailbox::RDOMail> mail = GetMessage(host.run(), EntryIDOf("agent"), "");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->EntryID(), EntryIDOf("agent"));
  EXPECT_EQ(host.run().messageStoreIDCache, "");
}

TEST_F(GetMessageRetry, PublicMessageFoundByTheRetryAndTheCacheFilled) {
  const size_t lines = host.results.size();
  std::shared_ptr<mailbox::RDOMail> mail = GetMessage(host.run(), pubID_, "");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->EntryID(), pubID_);
  EXPECT_EQ(host.run().messageStoreIDCache, publicStoreID_);
  EXPECT_EQ(host.results.size(), lines);
}

TEST_F(GetMessageRetry, WrongStoreIDIsNotUsedForTheRetry) {
  const std::string mailboxStoreID = EntryIDOf("jdoe");
  ASSERT_FALSE(mailboxStoreID.empty());
  std::shared_ptr<mailbox::RDOMail> mail = GetMessage(host.run(), pubID_, mailboxStoreID);
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->EntryID(), pubID_);
  EXPECT_TRUE(GetMessage(host.run(), pubID_, "00FF00"));
}

TEST_F(GetMessageRetry, UnknownEntryIDGivesNothing) {
  std::string id = pubID_;
  id.back() = id.back() == '0' ? '1' : '0';
  EXPECT_FALSE(GetMessage(host.run(), id, ""));
  EXPECT_FALSE(GetMessage(host.run(), "", ""));
}

class GetMessageCache : public GetMessageRetry {
 protected:
  void SetUp() override {
    // Only the first look-up of the public store succeeds.
    faults_ = Json::array(
        {{{"op", "Stores.FindExchangePublicFoldersStore"}, {"error", "0x8004010F"}, {"after", 1}}});
    GetMessageRetry::SetUp();
  }
};

TEST_F(GetMessageCache, SecondRetryUsesTheCache) {
  ASSERT_TRUE(GetMessage(host.run(), pubID_, ""));
  EXPECT_TRUE(GetMessage(host.run(), pubID_, ""));
  EXPECT_EQ(host.run().messageStoreIDCache, publicStoreID_);
  // A third look-up would have failed.
  EXPECT_FALSE(host.run().RDO->Stores()->FindExchangePublicFoldersStore());
}

TEST_F(GetMessageCache, CacheOutlivesALogonToAnotherRun) {
  ASSERT_TRUE(GetMessage(host.run(), pubID_, ""));
  ASSERT_TRUE(Connect("jdoe"));
  EXPECT_TRUE(GetMessage(host.run(), pubID_, ""));
}

// Compare faults on a message outside the agent-info folder, so the logon's lookup spends none.
class GetMessageCheck : public GetMessageRetry {
 protected:
  void WithCompareFault(Json fault) {
    fault["op"] = "Store.CompareEntryIDs";
    fault["target"] = "probe";
    faults_ = Json::array({fault});
    GetMessageRetry::SetUp();
    probeID_ = EntryIDOf("probe");
  }
  void SetUp() override { StoreRun::SetUp(); }
  std::string probeID_;
};

TEST_F(GetMessageCheck, FailingFinalCheckIsLoggedAndTheMessageReturned) {
  WithCompareFault(
      {{"error", "0x80040115"}, {"description", "The server is gone"}, {"after", 1}, {"times", 1}});
  const Lines before = host.results;
  std::shared_ptr<mailbox::RDOMail> mail = GetMessage(host.run(), probeID_, "");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->EntryID(), probeID_);
  EXPECT_EQ(host.results,
            Join(before, {"GetMessage CompareEntryIDs error:-2147221227 The server is gone"}));
  // The first check passed: no retry was needed.
  EXPECT_EQ(host.run().messageStoreIDCache, "");
}

TEST_F(GetMessageCheck, StoreThatDeniesTheIDGivesNothing) {
  WithCompareFault({{"result", false}});
  const Lines before = host.results;
  EXPECT_FALSE(GetMessage(host.run(), probeID_, ""));
  EXPECT_EQ(host.results, before);
  // The denial made it retry against the public store.
  EXPECT_EQ(host.run().messageStoreIDCache, publicStoreID_);
}

}  // namespace
}  // namespace oa::testing
