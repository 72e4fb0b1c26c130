#include "tests/handhelds/store_run.h"

#include <unistd.h>

#include <functional>
#include <sstream>

#include "mailbox/connect_mailbox.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/embedded_store.h"

namespace oa::testing {

using mailbox::ConnectMailbox;

json Folder(const std::string& name, const std::string& key, int items, std::vector<json> folders) {
  json f = {{"name", name}, {"folders", json(std::move(folders))}};
  if (!key.empty()) f["key"] = key;
  if (items > 0) f["items"] = items;
  return f;
}

json AgentMessage(json named) {
  return {{"key", "agent"},
          {"class", "ondavel.Agent"},
          {"subject", "ondavelAgent"},
          {"created", "2026-03-01T09:00:00Z"},
          {"named", std::move(named)}};
}

json MailboxStore(std::vector<json> topFolders, json agent) {
  json top = Folder(kTopName, "top", 0, std::move(topFolders));
  top["ipmRoot"] = true;
  json info = Folder("ondavelAgentInfo", "info");
  info["messages"] = json::array({std::move(agent)});
  return {{"kind", "mailbox"},
          {"key", "mbx"},
          {"displayName", kStoreName},
          {"alias", kAlias},
          {"address", "jdoe@example.com"},
          {"root", {{"folders", json::array({std::move(top), std::move(info)})}}}};
}

json PublicStore(std::vector<json> folders) {
  json all = Folder("IPM_SUBTREE", "pub", 0, std::move(folders));
  all["allPublicFolders"] = true;
  return {{"kind", "public"},
          {"key", "public"},
          {"displayName", "Public Folders"},
          {"root", {{"folders", json::array({std::move(all)})}}}};
}

json Dump(std::vector<json> stores, std::vector<json> faults) {
  return {{"format", "oa-store-dump/1"},
          {"stores", json(std::move(stores))},
          {"faults", json(std::move(faults))}};
}

json Fault(const std::string& op, const std::string& target, const std::string& effect, int times) {
  json f = {{"op", op},
            {"error", "0x80004005"},
            {"description", "Unspecified error"},
            {"effect", effect}};
  if (!target.empty()) f["target"] = target;
  if (times >= 0) f["times"] = times;
  return f;
}

void StoreFiles::SetUpTestSuite() {
  store::RegisterEmbeddedSessionClass();
}

void StoreFiles::SetUp() {
  char pattern[] = "/tmp/hh-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  dir = pattern;
  storePath = (dir / "store.db").string();
}

void StoreFiles::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void StoreFiles::Import(const json& dump) {
  std::string error;
  ASSERT_TRUE(store::ImportDump(dump.dump(), storePath, &error)) << error;
}

json StoreFiles::Export(int maxMessages) const {
  std::ostringstream out;
  std::string error;
  EXPECT_TRUE(store::ExportDump(storePath, out, maxMessages, &error)) << error;
  return json::parse(out.str());
}

namespace {

const json* FindKey(const json& node, const std::string& key) {
  if (node.is_object() && node.value("key", "") == key) return &node;
  if (!node.is_object() && !node.is_array()) return nullptr;
  for (const auto& child : node) {
    if (const json* found = FindKey(child, key)) return found;
  }
  return nullptr;
}

}  // namespace

std::string StoreFiles::IdOf(const std::string& key) const {
  const json dump = Export(1000);
  const json* node = FindKey(dump.at("stores"), key);
  return node ? node->value("entryId", "") : "";
}

void HostRun::SetUp() {
  StoreFiles::SetUp();
  host.server = storePath;
  host.mailbox = kAlias;
}

void HostRun::TearDown() {
  // The session's store file is closed before its directory goes.
  host.Reopen(/*keepSession=*/false);
  StoreFiles::TearDown();
}

bool HostRun::Connect() {
  host.Reopen();
  host.results.clear();
  host.progress.clear();
  return ConnectMailbox(host.run());
}

std::vector<std::string> StoreFiles::LogonLines() const {
  return {"instantiating RDO",
          std::string("Logging on with ") + kAlias + " " + storePath,
          "LoggedOn = True",
          "retrieving agent folders",
          "GetAgentMessage filter returned agent message ID",
          "GetAgentMessage found existing agent message"};
}

const json* FindStore(const json& dump, const std::string& kind) {
  for (const auto& store : dump.at("stores")) {
    if (store.value("kind", "") == kind) return &store;
  }
  return nullptr;
}

const json* FindFolder(const json& dump, const std::vector<std::string>& names,
                       const std::string& kind) {
  const json* node = FindStore(dump, kind);
  if (!node) return nullptr;
  node = &node->at("root");
  for (const auto& name : names) {
    const json* next = nullptr;
    if (node->contains("folders")) {
      for (const auto& child : node->at("folders")) {
        if (child.value("name", "") == name) {
          next = &child;
          break;
        }
      }
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

int64_t CountOf(const json& dump, const std::vector<std::string>& names) {
  const json* folder = FindFolder(dump, names);
  return folder ? folder->at("count").get<int64_t>() : -1;
}

const json& AgentOf(const json& dump) {
  const json* info = FindFolder(dump, {"ondavelAgentInfo"});
  if (!info || !info->contains("messages") || info->at("messages").empty()) {
    static const json none = json::object();
    ADD_FAILURE() << "no agent message in the export";
    return none;
  }
  return info->at("messages").at(0);
}

std::string NamedOf(const json& message, const std::string& name) {
  if (!message.contains("named") || !message.at("named").contains(name)) return "";
  return message.at("named").at(name).get<std::string>();
}

std::vector<std::string> ChildNames(const json& folder) {
  std::vector<std::string> names;
  if (folder.contains("folders")) {
    for (const auto& child : folder.at("folders")) names.push_back(child.at("name"));
  }
  return names;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace oa::testing
