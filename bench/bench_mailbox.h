// The mailbox the remote benches serve: "jdoe" with its agent message and a Handhelds folder of
// `items` items, made into a store file with the store tool.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

namespace oa::bench {

using nlohmann::json;

inline json Mailbox(int items) {
  json agent = {
      {"key", "agent"},
      {"class", "ondavel.Agent"},
      {"subject", "ondavelAgent"},
      {"created", "2026-03-01T09:00:00Z"},
      {"named", {{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", "\\\\Mailbox - jdoe\\Handhelds"}}}};
  json top = {{"name", "Top of Information Store"},
              {"ipmRoot", true},
              {"folders", {{{"name", "Handhelds"}, {"key", "hh"}, {"items", items}}}}};
  json info = {{"name", "ondavelAgentInfo"}, {"messages", {agent}}};
  return {{"format", "oa-store-dump/1"},
          {"stores",
           {{{"kind", "mailbox"},
             {"displayName", "Mailbox - jdoe"},
             {"alias", "jdoe"},
             {"address", "jdoe@example.com"},
             {"root", {{"folders", {info, top}}}}}}}};
}

inline bool Import(const json& dump, const std::string& store) {
  std::ofstream(store + ".json") << dump.dump();
  std::filesystem::remove(store);
  const std::string cmd =
      std::string("'") + OA_STORE_BIN + "' import '" + store + ".json' '" + store + "'";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace oa::bench
