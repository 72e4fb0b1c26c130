// Runs of the logon and the agent lookups against real store files in a temporary directory,
// reported to a recording host in place of the window.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/connect_mailbox.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/embedded_store.h"
#include "tests/support/recording_host.h"

namespace oa::testing {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

// One agent-info message of a dump.
inline Json Message(const std::string& key, const std::string& created,
                    const std::string& subject = "ondavelAgent",
                    const std::string& messageClass = "ondavel.Agent",
                    Json named = Json::object()) {
  return Json{{"key", key},
              {"class", messageClass},
              {"subject", subject},
              {"created", created},
              {"named", std::move(named)}};
}

inline Json AgentInfoFolder(Json messages) {
  return Json{{"name", "ondavelAgentInfo"}, {"key", "info"}, {"messages", std::move(messages)}};
}

inline Json MailboxStore(const std::string& alias, Json rootFolders) {
  return Json{{"kind", "mailbox"},
              {"key", alias},
              {"displayName", "Mailbox - " + alias},
              {"alias", alias},
              {"address", alias + "@example.com"},
              {"root", Json{{"folders", std::move(rootFolders)}}}};
}

inline Json PublicStore(Json rootFolders) {
  return Json{{"kind", "public"},
              {"key", "public"},
              {"displayName", "Public Folders"},
              {"root", Json{{"folders", std::move(rootFolders)}}}};
}

inline Json Dump(Json stores, Json faults = Json::array()) {
  return Json{{"format", "oa-store-dump/1"}, {"stores", std::move(stores)}, {"faults", faults}};
}

// A mailbox "jdoe" whose agent-info folder holds the messages given.
inline Json AgentDump(Json messages, Json faults = Json::array()) {
  return Dump(Json::array({MailboxStore("jdoe", Json::array({AgentInfoFolder(messages)}))}),
              std::move(faults));
}

// jdoe's agent message names a Handhelds folder of three items under the top of the store.
inline Json GuardedDump() {
  Json hh = {{"name", "Handhelds"}, {"key", "hh"}, {"items", 3}};
  Json top = {{"name", "Top of Information Store"},
              {"key", "top"},
              {"ipmRoot", true},
              {"folders", Json::array({hh})}};
  Json agent = Message("agent", "2026-03-01T09:00:00Z", "ondavelAgent", "ondavel.Agent",
                       {{"HHEntryID", {{"ref", "hh"}}}});
  return Dump(Json::array({MailboxStore("jdoe", Json::array({AgentInfoFolder({agent}), top}))}));
}

class StoreRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // Creation times in log lines come out in the C locale's general date, in UTC.
    setenv("TZ", "UTC", 1);
    tzset();
    std::string tmpl = (std::filesystem::temp_directory_path() / "oa-mbx-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    storePath = dir_ + "/mail.oastore";
    store::RegisterEmbeddedSessionClass();
  }

  void TearDown() override {
    if (host.run().RDO) {
      host.run().RDO->Logoff();
      host.run().RDO.reset();
    }
    store::RegisterEmbeddedSessionClass();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    unsetenv("OA_STORE_DIR");
  }

  void Import(const Json& doc) {
    std::string error;
    ASSERT_TRUE(store::ImportDump(doc.dump(), storePath, &error)) << error;
  }

  Json Export() {
    std::ostringstream out;
    std::string error;
    EXPECT_TRUE(store::ExportDump(storePath, out, 1000, &error)) << error;
    return Json::parse(out.str());
  }

  // One run up to the end of the logon step, as the OK handler starts it.
  bool Connect(const std::string& alias, const std::string& server = "") {
    host.server = server.empty() ? storePath : server;
    host.mailbox = alias;
    host.WriteLog("", true);
    return mailbox::ConnectMailbox(host.run());
  }

  // The log lines of a run that logs on to jdoe and reaches the agent lookup.
  Lines LogonLines(bool first = true) const {
    Lines lines;
    if (first) lines.push_back("instantiating RDO");
    lines.push_back("Logging on with jdoe " + storePath);
    lines.push_back("LoggedOn = True");
    lines.push_back("retrieving agent folders");
    return lines;
  }

  static Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  // The messages of the agent-info folder in the exported store.
  Json AgentInfoMessages() {
    const Json dump = Export();
    for (const Json& s : dump["stores"]) {
      if (s["kind"] != "mailbox") continue;
      for (const Json& f : s["root"]["folders"])
        if (f["name"] == "ondavelAgentInfo") return f.value("messages", Json::array());
    }
    return Json::array();
  }

  // The entry ID of the store, folder or message with that key in the exported store.
  std::string EntryIDOf(const std::string& key) {
    std::string found;
    FindKey(Export(), key, found);
    return found;
  }

  const std::string& dir() const { return dir_; }

  RecordingHost host;
  std::string storePath;

 private:
  static void FindKey(const Json& j, const std::string& key, std::string& found) {
    if (j.is_object()) {
      if (j.value("key", "") == key && j.contains("entryId")) found = j["entryId"];
      for (const auto& [name, value] : j.items()) FindKey(value, key, found);
    } else if (j.is_array()) {
      for (const Json& v : j) FindKey(v, key, found);
    }
  }

  std::string dir_;
};

}  // namespace oa::testing
