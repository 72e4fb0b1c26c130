#include "tests/nowindow/store_fixture.h"

#include <gtest/gtest.h>

#include <sstream>

#include "mailbox/store/dump.h"

namespace oa::testing {
namespace {

using nlohmann::json;

const json* FindByName(const json& folders, const std::string& name) {
  for (const json& f : folders) {
    if (f.value("name", "") == name) return &f;
  }
  return nullptr;
}

}  // namespace

json MailboxStore(const MailboxShape& shape) {
  const std::string hhKey = shape.alias + "-hh";
  const std::string displayName = "Mailbox - " + shape.alias;
  json agentFolder = {{"name", "ondavelAgentInfo"}, {"messages", json::array()}};
  if (shape.agentMessage) {
    json named = json::object();
    if (shape.handheldsExists) {
      named["HHEntryID"] = {{"ref", hhKey}};
      named["HHPath"] = "\\\\" + displayName + "\\Handhelds";
    } else {
      named["HHEntryID"] = "00000000DEADBEEF00000000DEADBEEF";
    }
    agentFolder["messages"].push_back({{"key", shape.alias + "-agent"},
                                       {"class", "ondavel.Agent"},
                                       {"subject", "ondavelAgent"},
                                       {"created", "2026-03-01T09:00:00Z"},
                                       {"named", named}});
  }
  json top = {{"name", "Top of Information Store"},
              {"key", shape.alias + "-top"},
              {"ipmRoot", true},
              {"folders", {{{"name", "Inbox"}, {"items", 2}}}}};
  if (shape.handheldsExists)
    top["folders"].push_back({{"name", "Handhelds"}, {"key", hhKey}, {"items", shape.items}});
  return {{"kind", "mailbox"},
          {"key", shape.alias},
          {"displayName", displayName},
          {"alias", shape.alias},
          {"address", shape.alias + "@example.com"},
          {"root", {{"folders", {agentFolder, top}}}}};
}

json Dump(const std::vector<json>& stores, const std::vector<json>& faults) {
  json dump = {{"format", "oa-store-dump/1"}, {"stores", stores}};
  if (!faults.empty()) dump["faults"] = faults;
  return dump;
}

json Fault(const std::string& op, const std::string& target, int times, const std::string& error,
           const std::string& description) {
  json fault = {{"op", op}, {"error", error}, {"description", description}};
  if (!target.empty()) fault["target"] = target;
  if (times >= 0) fault["times"] = times;
  return fault;
}

void ImportStore(const json& dump, const std::string& storeFile) {
  std::string error;
  ASSERT_TRUE(store::ImportDump(dump.dump(), storeFile, &error)) << error;
}

json ExportStore(const std::string& storeFile) {
  std::ostringstream out;
  std::string error;
  EXPECT_TRUE(store::ExportDump(storeFile, out, store::kDefaultMaxMessages, &error)) << error;
  return json::parse(out.str(), nullptr, false);
}

void CopyStoreFiles(const std::string& fromFile, const std::string& toFile) {
  namespace fs = std::filesystem;
  const fs::path from(fromFile);
  const std::string base = from.filename().string();
  for (const fs::directory_entry& e : fs::directory_iterator(from.parent_path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind(base, 0) != 0) continue;
    const std::string suffix = name.substr(base.size());
    if (!suffix.empty() && suffix[0] != '-') continue;
    fs::copy_file(e.path(), toFile + suffix, fs::copy_options::overwrite_existing);
  }
}

const json* FindStore(const json& dump, const std::string& alias) {
  if (!dump.contains("stores")) return nullptr;
  for (const json& s : dump["stores"]) {
    if (s.value("alias", "") == alias) return &s;
  }
  return nullptr;
}

const json* FindTopFolder(const json& store, const std::string& name) {
  for (const json& f : store["root"]["folders"]) {
    if (f.value("ipmRoot", false) && f.contains("folders")) return FindByName(f["folders"], name);
  }
  return nullptr;
}

std::string AgentHHEntryID(const json& store) {
  const json* agentInfo = FindByName(store["root"]["folders"], "ondavelAgentInfo");
  if (!agentInfo) return "";
  for (const json& m : agentInfo->value("messages", json::array())) {
    if (m.value("class", "") == "ondavel.Agent" && m.contains("named"))
      return m["named"].value("HHEntryID", "");
  }
  return "";
}

void WriteUserRegistry(const std::string& path, const std::string& server,
                       const std::string& mailbox) {
  WriteFile(path,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\ondavel\\Tessel Admin\\Settings]\r\n"
            "\"ExServer\"=\"" +
                server + "\"\r\n\"ExAlias\"=\"" + mailbox + "\"\r\n");
}

}  // namespace oa::testing
