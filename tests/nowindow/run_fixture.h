// A place to run oa-cleanup in: a store directory (servers by name), empty registry files so
// that the user's own settings never leak in, the C locale, and a log file.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/nowindow/child_process.h"
#include "tests/nowindow/store_fixture.h"

namespace oa::testing {

class RunFixture : public ::testing::Test {
 protected:
  RunFixture();

  std::string StoreFile(const std::string& server = "demo") const;
  void Import(const nlohmann::json& dump, const std::string& server = "demo");
  nlohmann::json Export(const std::string& server = "demo") const;
  // Copies a store file (with any journal beside it) under another server name.
  void CopyStore(const std::string& fromFile, const std::string& server);

  // oa-cleanup --no-window --log <log> plus `args`.
  ChildResult Cleanup(const std::vector<std::string>& args,
                      std::function<int(const std::string&)> onLine = {});

  // The log file's lines without their CR LF.
  std::vector<std::string> LogLines() const;
  // Checks that the log file holds one clear line and then `lines`, each with the time stamp
  // of a second within the last run.
  void ExpectLogFile(const std::vector<std::string>& lines) const;

  TempDir dir;
  std::string storeDir;
  std::string logFile;
  std::map<std::string, std::string> env;
  std::time_t runStart = 0;
  std::time_t runEnd = 0;
};

// The lines of a logon of `alias` on `server` by a fresh session that finds the agent message.
std::vector<std::string> LogonLines(const std::string& alias, const std::string& server = "demo");

// The Handhelds folder's entry ID in an export of the store.
std::string HandheldsID(const nlohmann::json& dump, const std::string& alias);

}  // namespace oa::testing
