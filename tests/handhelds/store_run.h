// The handhelds procedures against real store files: a dump imported into a temporary
// directory, the procedures run on a recording host, the store exported afterwards. Also the
// dump pieces the tests share.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/recording_host.h"

namespace oa::testing {

using nlohmann::json;

inline constexpr const char* kStoreName = "Mailbox - John Doe";
inline constexpr const char* kAlias = "jdoe";
inline constexpr const char* kTopName = "Top of Information Store";
// The usual HHPath of the Handhelds folder.
inline constexpr const char* kHHPath = "\\\\Mailbox - John Doe\\Handhelds";

json Folder(const std::string& name, const std::string& key = "", int items = 0,
            std::vector<json> folders = {});
// The agent message; `named` holds HHEntryID and HHPath as the dump gives them.
json AgentMessage(json named);
// The mailbox store: the agent-info folder holding `agent`, and `topFolders` below the top of
// the information store (key "top").
json MailboxStore(std::vector<json> topFolders, json agent);
// A public store whose all-public-folders folder (key "pub") holds `folders`.
json PublicStore(std::vector<json> folders);
json Dump(std::vector<json> stores, std::vector<json> faults = {});
json Fault(const std::string& op, const std::string& target, const std::string& effect = "none",
           int times = -1);

// A temporary directory with a store file in it.
class StoreFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  void Import(const json& dump);
  json Export(int maxMessages = 100) const;
  // The entry ID of the object with that key, as the store exported it.
  std::string IdOf(const std::string& key) const;

  // The lines a run logs before its cleanup, for a first run of the session.
  std::vector<std::string> LogonLines() const;

  std::filesystem::path dir;
  std::string storePath;
};

// The procedures run on a recording host in place of the window.
class HostRun : public StoreFiles {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Logs the session on and loads the agent data, as a run does before its cleanup, on a fresh
  // window (the session of the window before goes on).
  bool Connect();

  RecordingHost host;
};

// Lookups in an export.
const json* FindStore(const json& dump, const std::string& kind);
// A folder by its names from the store's root; nullptr when one is missing.
const json* FindFolder(const json& dump, const std::vector<std::string>& names,
                       const std::string& kind = "mailbox");
// A folder's full message count; -1 when the folder is missing.
int64_t CountOf(const json& dump, const std::vector<std::string>& names);
// The agent message as exported.
const json& AgentOf(const json& dump);
std::string NamedOf(const json& message, const std::string& name);
// The names of a folder's children, in export order.
std::vector<std::string> ChildNames(const json& folder);

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b);

}  // namespace oa::testing
