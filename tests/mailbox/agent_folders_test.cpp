// The agent-info folder and the Handhelds location loaded from the agent message.
#include "mailbox/agent_folders.h"

#include <gtest/gtest.h>

#include "tests/mailbox/store_fixture.h"

namespace oa::testing {
namespace {

const Lines kFound = {"GetAgentMessage filter returned agent message ID",
                      "GetAgentMessage found existing agent message"};
const Lines kCreatedEmpty = {
    "GetAgentFolders creating AgentInfo folder", "GetAgentMessage no messages in AgentInfo folder",
    "GetAgentMessage found no existing agent message", "Failed to access agent folders"};

Json Agent(Json named) {
  return Message("agent", "2026-03-01T09:00:00Z", "ondavelAgent", "ondavel.Agent",
                 std::move(named));
}

int AgentInfoFolderCount(const Json& dump) {
  int n = 0;
  for (const Json& f : dump["stores"][0]["root"]["folders"])
    if (f["name"] == "ondavelAgentInfo") ++n;
  return n;
}

class AgentFolders : public StoreRun {};

TEST_F(AgentFolders, BothValuesLoaded) {
  Import(Dump(Json::array({MailboxStore(
      "jdoe",
      Json::array(
          {AgentInfoFolder(Json::array({Agent(
               {{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", "\\Mailbox - jdoe\\Handhelds"}})})),
           Json{{"name", "Top of Information Store"},
                {"ipmRoot", true},
                {"folders", Json::array({Json{{"name", "Handhelds"}, {"key", "hh"}}})}}}))})));
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), kFound));
  EXPECT_EQ(host.run().hhEntryID, EntryIDOf("hh"));
  EXPECT_FALSE(host.run().hhEntryID.empty());
  EXPECT_EQ(host.run().hhPath, "\\Mailbox - jdoe\\Handhelds");
  ASSERT_TRUE(host.run().agentInfoFolder);
  EXPECT_EQ(host.run().agentInfoFolder->EntryID(), EntryIDOf("info"));
}

TEST_F(AgentFolders, FolderCreatedWhenMissingAndOnlyOnce) {
  Import(Dump(Json::array({MailboxStore("jdoe", Json::array())})));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), kCreatedEmpty));
  EXPECT_TRUE(host.run().agentInfoFolder);
  EXPECT_EQ(AgentInfoFolderCount(Export()), 1);

  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(false), {"GetAgentMessage no messages in AgentInfo "
                                                   "folder",
                                                   "GetAgentMessage found no existing agent "
                                                   "message",
                                                   "Failed to access agent folders"}));
  EXPECT_EQ(AgentInfoFolderCount(Export()), 1);
}

TEST_F(AgentFolders, FolderThatCannotBeCreated) {
  Import(Dump(Json::array({MailboxStore("jdoe", Json::array())}),
              Json::array({{{"op", "Folders.Add"}, {"error", "0x80070005"}}})));
  EXPECT_FALSE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), {"GetAgentFolders creating AgentInfo folder",
                                              "Unable to locate or create ondavelAgent folders!",
                                              "Failed to access agent folders"}));
  EXPECT_FALSE(host.run().agentInfoFolder);
  EXPECT_EQ(AgentInfoFolderCount(Export()), 0);
}

TEST_F(AgentFolders, MessageWithoutHHPath) {
  Import(AgentDump(Json::array({Agent({{"HHEntryID", "00112233"}})})));
  EXPECT_TRUE(Connect("jdoe"));
  EXPECT_EQ(host.results, Join(LogonLines(), kFound));
  EXPECT_EQ(host.run().hhEntryID, "00112233");
  EXPECT_EQ(host.run().hhPath, "");
}

TEST_F(AgentFolders, FalseLeavesTheValuesAsTheyWere) {
  Import(Dump(Json::array(
      {MailboxStore("jdoe", Json::array({AgentInfoFolder(Json::array(
                                {Agent({{"HHEntryID", "AABB"}, {"HHPath", "\\Handhelds"}})}))})),
       MailboxStore("asmith", Json::array({Json{{"name", "ondavelAgentInfo"}}}))})));
  ASSERT_TRUE(Connect("jdoe"));
  const std::string jdoeEntryID = host.run().agentMessageEntryID;
  EXPECT_FALSE(Connect("asmith"));
  EXPECT_EQ(
      host.results,
      (Lines{"Logging on with asmith " + storePath, "LoggedOn = True", "retrieving agent folders",
             "GetAgentMessage no messages in AgentInfo folder",
             "GetAgentMessage found no existing agent message", "Failed to access agent folders"}));
  EXPECT_EQ(host.run().hhEntryID, "AABB");
  EXPECT_EQ(host.run().hhPath, "\\Handhelds");
  EXPECT_EQ(host.run().agentMessageEntryID, jdoeEntryID);
  // The folder of the earlier mailbox is not kept.
  ASSERT_TRUE(host.run().agentInfoFolder);
  EXPECT_NE(host.run().agentInfoFolder->EntryID(), EntryIDOf("info"));
}

}  // namespace
}  // namespace oa::testing
