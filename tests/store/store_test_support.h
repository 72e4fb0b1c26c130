// Store files in a temporary directory, made from dumps, for the store's tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/rdo.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/embedded_store.h"
#include "mailbox/store/schema.h"
#include "mailbox/store/store_location.h"
#include "settings/config.h"

namespace oa::store::testing {

using Json = nlohmann::json;
namespace mb = oa::mailbox;
namespace C = oa::mailbox::ConstMAPI;

// The store directory the program would take from OA_STORE_DIR (or its default), as at
// start-up.
inline std::string StoreDirectoryFromEnvironment() {
  const settings::ConfigResult r =
      settings::LoadConfig({}, settings::ProcessEnvironment(), /*readFile=*/false);
  for (const std::string& e : r.errors) ADD_FAILURE() << e;
  return r.config.storeDirectory.value;
}

inline Json Mailbox(const std::string& alias, Json folders = Json::array(),
                    Json messages = Json::array()) {
  return Json{{"kind", "mailbox"},
              {"key", alias},
              {"displayName", "Mailbox - " + alias},
              {"alias", alias},
              {"address", alias + "@example.com"},
              {"root", Json{{"folders", std::move(folders)}, {"messages", std::move(messages)}}}};
}

inline Json Dump(Json stores, Json faults = Json::array()) {
  return Json{{"format", "oa-store-dump/1"}, {"stores", std::move(stores)}, {"faults", faults}};
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "oa-store-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    path = dir + "/mail.oastore";
    oa::Err().Clear();
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  void Import(const Json& dump, const std::string& file = "") {
    std::string error;
    ASSERT_TRUE(ImportDump(dump.dump(), file.empty() ? path : file, &error)) << error;
  }

  std::string Export(int maxMessages = kDefaultMaxMessages, const std::string& file = "") {
    std::ostringstream out;
    std::string error;
    EXPECT_TRUE(ExportDump(file.empty() ? path : file, out, maxMessages, &error)) << error;
    return out.str();
  }

  Json ExportJson(int maxMessages = kDefaultMaxMessages) {
    return Json::parse(Export(maxMessages));
  }

  std::shared_ptr<mb::RDOSession> Logon(const std::string& mailbox = "jdoe",
                                        const StoreFileOptions& fileOptions = {}) {
    auto s = NewEmbeddedSession({}, fileOptions);
    s->LogonExchangeMailbox(mailbox, path);
    EXPECT_TRUE(s->LoggedOn()) << oa::Err().Description();
    return s;
  }

  std::string dir, path;
};

}  // namespace oa::store::testing
