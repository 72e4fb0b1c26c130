#include "tests/nowindow/run_fixture.h"

#include "base/date.h"
#include "console/activity_log.h"

namespace oa::testing {

using console::ActivityLog;

RunFixture::RunFixture() : storeDir(dir / "stores"), logFile(dir / "OA-Cleanup.log") {
  std::filesystem::create_directories(storeDir);
  WriteFile(dir / "user.reg", "");
  WriteFile(dir / "machine.reg", "");
  env = {{"OA_STORE_DIR", storeDir},
         {"OA_REGISTRY_USER", dir / "user.reg"},
         {"OA_REGISTRY_MACHINE", dir / "machine.reg"}};
#ifndef _WIN32
  // The test computes the log's time stamps in its own C locale. On Windows the program and the
  // test share the user's locale (under Wine LC_ALL would change the program's alone).
  env["LC_ALL"] = "C";
#endif
}

std::string RunFixture::StoreFile(const std::string& server) const {
  return storeDir + "/" + server + ".oastore";
}

void RunFixture::Import(const nlohmann::json& dump, const std::string& server) {
  ImportStore(dump, StoreFile(server));
}

nlohmann::json RunFixture::Export(const std::string& server) const {
  return ExportStore(StoreFile(server));
}

void RunFixture::CopyStore(const std::string& fromFile, const std::string& server) {
  CopyStoreFiles(fromFile, StoreFile(server));
}

ChildResult RunFixture::Cleanup(const std::vector<std::string>& args,
                                std::function<int(const std::string&)> onLine) {
  Child child;
  child.argv = {OA_CLEANUP_BIN, "--no-window", "--log", logFile};
  child.env = env;
  child.onLine = std::move(onLine);
  child.argv.insert(child.argv.end(), args.begin(), args.end());
  runStart = std::time(nullptr);
  ChildResult result = RunChild(child);
  runEnd = std::time(nullptr);
  return result;
}

std::vector<std::string> RunFixture::LogLines() const {
  const std::string text = ReadFile(logFile);
  std::vector<std::string> lines;
  // A new log file on Windows starts with a UTF-8 byte order mark, which is no line's text.
  size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void RunFixture::ExpectLogFile(const std::vector<std::string>& lines) const {
  const std::vector<std::string> file = LogLines();
  ASSERT_EQ(file.size(), lines.size() + 1) << ReadFile(logFile);
  EXPECT_EQ(file[0], "") << "a run starts with a clear line";
  for (size_t i = 0; i < lines.size(); ++i) {
    bool stamped = false;
    for (std::time_t t = runStart; t <= runEnd && !stamped; ++t) {
      const std::string stamp = ActivityLog::StampText(oa::DateFromUnixMillis(t * 1000LL));
      stamped = file[i + 1] == stamp + ":" + lines[i];
    }
    EXPECT_TRUE(stamped) << "log line " << i + 1 << ": " << file[i + 1]
                         << "\nwanted a stamp and ':" << lines[i] << "'";
  }
}

std::vector<std::string> LogonLines(const std::string& alias, const std::string& server) {
  return {"instantiating RDO",
          "Logging on with " + alias + " " + server,
          "LoggedOn = True",
          "retrieving agent folders",
          "GetAgentMessage filter returned agent message ID",
          "GetAgentMessage found existing agent message"};
}

std::string HandheldsID(const nlohmann::json& dump, const std::string& alias) {
  const nlohmann::json* store = FindStore(dump, alias);
  if (!store) return "";
  const nlohmann::json* hh = FindTopFolder(*store, "Handhelds");
  return hh ? hh->value("entryId", "") : "";
}

}  // namespace oa::testing
