// Store files for the window-less runs: dumps built in code, imported and exported with the
// store's own dump functions, and registry files.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/nowindow/temp_files.h"

namespace oa::testing {

struct MailboxShape {
  std::string alias;
  // Items in its Handhelds folder.
  int items = 3;
  // False: the mailbox has no agent message (its agent data cannot be found).
  bool agentMessage = true;
  // False: HHEntryID names a folder that does not exist and HHPath is empty.
  bool handheldsExists = true;
};

// A mailbox store: agent-info folder with the agent message, and the Handhelds folder (key
// alias + "-hh") under the top of the information store. Keys: alias, alias + "-agent",
// alias + "-top" (the top of the information store).
nlohmann::json MailboxStore(const MailboxShape& shape);

nlohmann::json Dump(const std::vector<nlohmann::json>& stores,
                    const std::vector<nlohmann::json>& faults = {});

// A fault of the store's object model, as the dump declares it.
nlohmann::json Fault(const std::string& op, const std::string& target, int times = -1,
                     const std::string& error = "0x80004005",
                     const std::string& description = "Unspecified error");

// Imports as `oa-store import` does; fails the test when the dump is refused.
void ImportStore(const nlohmann::json& dump, const std::string& storeFile);
// Exports as `oa-store export` does.
nlohmann::json ExportStore(const std::string& storeFile);

// Copies a store file that no process has open, with any journal beside it.
void CopyStoreFiles(const std::string& fromFile, const std::string& toFile);

// Lookups in an export.
const nlohmann::json* FindStore(const nlohmann::json& dump, const std::string& alias);
// A direct child of the store's top of information store.
const nlohmann::json* FindTopFolder(const nlohmann::json& store, const std::string& name);
// The HHEntryID of the store's agent message, as exported.
std::string AgentHHEntryID(const nlohmann::json& store);

// A registry file in the format regedit writes, with the user's server and mailbox.
void WriteUserRegistry(const std::string& path, const std::string& server,
                       const std::string& mailbox);

}  // namespace oa::testing
