// libFuzzer entry over the folder path resolver, against a small real store: any path either
// names one of the store's folders or is refused with a line in the results box.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "console/activity_log.h"
#include "console/form.h"
#include "handhelds/folder_lookup.h"
#include "mailbox/connect_mailbox.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/embedded_store.h"
#include "tests/support/recording_console.h"

namespace {

using nlohmann::json;

const char* const kDump = R"({"format": "oa-store-dump/1", "stores": [
  {"kind": "mailbox", "displayName": "Mailbox - John Doe", "alias": "jdoe",
   "address": "jdoe@example.com", "root": {"folders": [
     {"name": "Top of Information Store", "ipmRoot": true, "folders": [
       {"name": "Handhelds", "items": 3},
       {"name": "Devices", "folders": [{"name": "Handhelds"}, {"name": " Spaced "}]},
       {"name": "back\\slash"}, {"name": "Ünïcødé"}]},
     {"name": "ondavelAgentInfo", "messages": [
       {"class": "ondavel.Agent", "subject": "ondavelAgent",
        "named": {"HHPath": "\\\\Mailbox - John Doe\\Handhelds"}}]}]}},
  {"kind": "public", "displayName": "Public Folders", "root": {"folders": [
     {"name": "IPM_SUBTREE", "allPublicFolders": true, "folders": [
       {"name": "Handhelds"}, {"name": "Public Folders", "folders": [
         {"name": "All Public Folders"}]}]}]}}]})";

void CollectIds(const json& node, std::set<std::string>& ids) {
  if (node.is_object() && node.contains("name") && node.contains("entryId")) {
    ids.insert(node.at("entryId").get<std::string>());
  }
  if (node.is_object() || node.is_array()) {
    for (const auto& child : node) CollectIds(child, ids);
  }
}

struct World {
  oa::testing::RecordingConsole console;
  std::unique_ptr<oa::console::Form> form;
  std::set<std::string> folderIds;
  std::filesystem::path dir;

  // The session pointer is thread-local: at exit it is destroyed before this static, so it
  // closes the store itself and is not touched here.
  ~World() {
    form.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  World() {
    char pattern[] = "/tmp/path-fuzz-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    dir = pattern;
    const std::string store = (dir / "store.db").string();
    std::string error;
    if (!oa::store::ImportDump(kDump, store, &error)) std::abort();
    std::ostringstream out;
    if (!oa::store::ExportDump(store, out, -1, &error)) std::abort();
    CollectIds(json::parse(out.str()).at("stores"), folderIds);

    oa::store::RegisterEmbeddedSessionClass();
    console.texts[oa::console::Control::txtExServer] = store;
    console.texts[oa::console::Control::txtAlias] = "jdoe";
    form = std::make_unique<oa::console::Form>(
        console, oa::console::ActivityLog((dir / "OA-Cleanup.log").string()));
    if (!oa::mailbox::ConnectMailbox(form->run())) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  world.console.results.clear();
  const std::string path(reinterpret_cast<const char*>(data), size);
  const auto folder = oa::handhelds::GetFolderFromPath(world.form->run(), path);
  if (folder) {
    if (!world.folderIds.count(folder->EntryID())) std::abort();
  } else if (world.console.results.empty()) {
    std::abort();
  }
  return 0;
}
