// The program killed while it empties a renamed folder over EWS, between two groups of deletes:
// what the server took is gone, every other item is still in the renamed folder, and nothing
// was sent twice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "mailbox/ews/soap.h"
#include "tests/ews/ews_test_server.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

extern char** environ;

namespace oa::ews::testing {
namespace {

using nlohmann::json;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::MailboxStore;

// Started by posix_spawn so that the test holds its process ID; stdout and stderr go nowhere.
class Spawned {
 public:
  Spawned(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
      if (const char* eq = std::strchr(*e, '='))
        env[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
    }
    for (const auto& [k, v] : extra) env[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<std::string> args = argv;
    std::vector<char*> argp, envp;
    for (auto& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Spawned() {
    if (pid_ > 0) Kill();
  }
  bool started() const { return pid_ > 0; }
  // SIGKILL and reap; the wait status.
  int Kill() {
    int status = 0;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

// Polls a state of the server, bounded generously.
template <class F>
bool WaitFor(F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class KilledBetweenGroups : public oa::testing::RunFixture {};

TEST_F(KilledBetweenGroups, LosesNoMoreThanTheGroupsNotAnswered) {
  constexpr int kItems = 600;
  const json dump = Dump({MailboxStore({.alias = "jdoe", .items = kItems})},
                         {Fault("Folder.Delete", "jdoe-hh", 1)});
  Import(dump, "demo");
  ServerOptions o;
  o.storeFile = StoreFile("demo");
  o.mailboxes = MailboxesOf(dump);
  o.certDir = dir.path().string();
  o.lifetime = std::chrono::seconds(300);
  EwsTestServer server(o);
  ASSERT_TRUE(server.Start());
  // The third group is held at the server, so the program is surely between groups.
  server.AddTrouble({Trouble::Kind::Slow, "DeleteItem", 2, 1, 1500});
  env["OA_EWS_CAFILE"] = server.caFile();
  env["OA_EWS_USER"] = o.user;
  env["OA_EWS_PASSWORD"] = o.password;

  Spawned child({OA_CLEANUP_BIN, "--no-window", "--log", logFile, "--server", server.url(),
                 "--mailbox", "jdoe"},
                env);
  ASSERT_TRUE(child.started());
  auto seenDeletes = [&] {
    int n = 0;
    for (const auto& r : server.Requests()) n += r.operation == "DeleteItem";
    return n;
  };
  ASSERT_TRUE(WaitFor([&] { return seenDeletes() >= 3; }));
  EXPECT_EQ(server.OperationCount("DeleteItem"), 2);
  const int status = child.Kill();
  EXPECT_TRUE(WIFSIGNALED(status));
  // The held group is answered all the same; nothing comes after it.
  ASSERT_TRUE(WaitFor([&] { return server.OperationCount("DeleteItem") == seenDeletes(); }));

  std::set<std::string> sent;
  for (const auto& r : server.Requests()) {
    if (r.operation != "DeleteItem") continue;
    pugi::xml_document doc;
    doc.load_buffer(r.body.data(), r.body.size());
    auto op = Child(Child(Child(doc, "Envelope"), "Body"), "DeleteItem");
    for (auto id : Children(Child(op, "ItemIds"), "ItemId"))
      EXPECT_TRUE(sent.insert(Attr(id, "Id")).second) << "sent twice";
  }
  EXPECT_EQ(sent.size(), 300u);

  server.Stop();
  const json after = Export("demo");
  const json* store = oa::testing::FindStore(after, "jdoe");
  ASSERT_NE(store, nullptr);
  const json* renamed = oa::testing::FindTopFolder(*store, "Handhelds -1");
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->value("count", -1), kItems - static_cast<int>(sent.size()));
  const json* fresh = oa::testing::FindTopFolder(*store, "Handhelds");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->value("count", -1), 0);
  EXPECT_EQ(oa::testing::AgentHHEntryID(*store), oa::testing::HandheldsID(after, "jdoe"));
}

}  // namespace
}  // namespace oa::ews::testing
