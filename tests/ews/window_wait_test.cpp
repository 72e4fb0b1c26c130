// Cancel or a frame close on the real window while a run waits out a server that asked for a
// minute's back-off: the wait ends at once, the run unwinds within a second with its cancel
// line, and the session is released. Also: the hooks go with their window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "console/qt/ews_wait_hooks.h"
#include "console/qt/frmCleanup.h"
#include "mailbox/backends.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::ews::testing {

using console::ActivityLog;
using console::Control;
using qt::frmCleanup;
using qt::WindowWaitHooks;

namespace {

using nlohmann::json;
using oa::testing::Dump;
using oa::testing::ExportStore;
using oa::testing::Fault;
using oa::testing::FindStore;
using oa::testing::FindTopFolder;
using oa::testing::MailboxStore;
using SteadyClock = std::chrono::steady_clock;
// The busy server's back-off. A stop that is not taken lets the run sleep all of it; one taken
// ends the run long before (judged against half of it, which a loaded machine does not reach).
constexpr int kBackOffMs = 60000;
constexpr auto kWellBeforeTheBackOffEnds = std::chrono::milliseconds(kBackOffMs / 2);

// Every line of the log carries this stamp: 2 January 2024, 13:02:03, in the C locale.
constexpr double kNow = 45293.0 + (13 * 3600 + 2 * 60 + 3) / 86400.0;
const std::string kStamp = "01/02/24 13:02:03";

int DeleteItemsSeen(EwsTestServer& server) {
  int n = 0;
  for (const auto& r : server.Requests()) n += r.operation == "DeleteItem" ? 1 : 0;
  return n;
}

class WindowBackOff : public ServedStore {
 protected:
  void SetUp() override {
    // Empty registry files, so that no setting of the user's own reaches the run.
    for (const char* hive : {"user", "machine"}) oa::testing::WriteFile(dir / hive, "");
    setenv("OA_REGISTRY_USER", (dir / "user").c_str(), 1);
    setenv("OA_REGISTRY_MACHINE", (dir / "machine").c_str(), 1);
  }
  void TearDown() override {
    hooks.reset();
    window.reset();
    unsetenv("OA_REGISTRY_USER");
    unsetenv("OA_REGISTRY_MACHINE");
    ServedStore::TearDown();
  }

  std::string LogPath() const { return dir / "OA-Cleanup.log"; }

  // 400 items to empty from the renamed folder, deleted a hundred to a request; the fourth
  // delete request is answered ServerBusy with a minute's back-off. Presses OK on a fresh window
  // and, once the program has been waiting for a while, `stop`s it. Returns how long the run went
  // on after `stop`.
  SteadyClock::duration RunAndStopDuringTheWait(const std::function<void()>& stop) {
    Serve(
        Dump({MailboxStore({.alias = "jdoe", .items = 400})}, {Fault("Folder.Delete", "jdoe-hh")}));
    oldFolder = oa::testing::HandheldsID(ExportStore(storeFile), "jdoe");
    server->AddTrouble({Trouble::Kind::ServerBusy, "DeleteItem", 3, 1, kBackOffMs});
    // The program's sessions wait through the waiter whose hooks the window sets.
    oa::mailbox::RegisterSessionClasses(backends, waiter);

    NewWindow();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get(), 30000));
    window->SetText(Control::txtExServer, server->url());
    window->SetText(Control::txtAlias, "jdoe");
    static_cast<QAbstractButton*>(window->Widget(Control::chkHH))->setChecked(true);

    // Fires only where the run lets events through. Once the server has seen the fourth delete,
    // the run blocks on its answer and lets events through again only in the back-off wait:
    // the first tick after that is inside the wait.
    std::optional<SteadyClock::time_point> stopped;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (stopped) return;
      if (DeleteItemsSeen(*server) >= 4) {
        runningWhenStopped = window->form().Running();
        stopped = SteadyClock::now();
        stop();
      }
    });
    poll.start();
    // The click returns once the run has unwound.
    QTest::mouseClick(window->Widget(Control::cmdOK), Qt::LeftButton);
    const auto end = SteadyClock::now();
    poll.stop();
    EXPECT_TRUE(stopped) << "the run never waited for the busy server";
    return stopped ? end - *stopped : SteadyClock::duration::max();
  }

  // The run stopped in the wait: its lines whole in the log file and the results box, the
  // window gone, the session released, the store as the three delete requests left it.
  void ExpectCancelledRun() {
    EXPECT_TRUE(runningWhenStopped);
    EXPECT_EQ(DeleteItemsSeen(*server), 4);
    std::vector<std::string> lines = oa::testing::LogonLines("jdoe", server->url());
    for (const std::string& line :
         {"Retrieved Handhelds folder using EntryID " + oldFolder,
          std::string("CleanupHH: message count = 400"),
          std::string("CleanupHH: attempting to delete folder"),
          std::string("error deleting folder &H80004005 Unspecified error"),
          std::string("failed to delete existing Handhelds folder; attempting rename"),
          std::string("successfully renamed existing folder as Handhelds -1"),
          std::string("Created new Handhelds folder in mailbox"),
          std::string("pointed agent to new Handhelds folder"),
          std::string("Canceled delete of folder items before completion; count = 100")})
      lines.push_back(line);
    std::string log = "\r\n", box;
    for (const std::string& line : lines) {
      log += kStamp + ":" + line + "\r\n";
      box += line + "\r\n";
    }
    EXPECT_EQ(oa::testing::ReadFile(LogPath()), log);
    EXPECT_EQ(window->ResultsText(), box);

    EXPECT_TRUE(window->form().Unloaded());
    EXPECT_FALSE(window->form().Running());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->form().run().RDO, nullptr) << "the session outlived its run";

    // The window's objects hold the server's connection open; the server stops once they are
    // gone.
    hooks.reset();
    window.reset();
    server->Stop();
    // Three groups went; the rest stay in the renamed folder, and the agent points at the new
    // one.
    const json after = ExportStore(storeFile);
    const json* renamed = FindTopFolder(*FindStore(after, "jdoe"), "Handhelds -1");
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->value("entryId", ""), oldFolder);
    EXPECT_EQ(renamed->value("count", -1), 100);
    EXPECT_EQ(oa::testing::AgentHHEntryID(*FindStore(after, "jdoe")),
              oa::testing::HandheldsID(after, "jdoe"));
  }

  // A fresh window with the wait hooks installed for it, as the program does.
  void NewWindow() {
    hooks.reset();
    window = std::make_unique<frmCleanup>(ActivityLog(LogPath(), [] { return oa::Date{kNow}; }));
    hooks.emplace(*window, *waiter);
  }

  std::unique_ptr<frmCleanup> window;
  std::optional<WindowWaitHooks> hooks;
  std::string oldFolder;
  bool runningWhenStopped = false;
};

TEST_F(WindowBackOff, CancelButtonEndsTheWaitAndTheRun) {
  const auto after = RunAndStopDuringTheWait(
      [&] { QTest::mouseClick(window->Widget(Control::cmdCancel), Qt::LeftButton); });
  EXPECT_LT(after, kWellBeforeTheBackOffEnds);
  EXPECT_TRUE(window->form().run().bCancel);
  ExpectCancelledRun();
}

TEST_F(WindowBackOff, FrameCloseEndsTheWaitAndTheRun) {
  const auto after = RunAndStopDuringTheWait([&] { window->close(); });
  EXPECT_LT(after, kWellBeforeTheBackOffEnds);
  // A close is no Cancel press; the run stops all the same.
  EXPECT_FALSE(window->form().run().bCancel);
  ExpectCancelledRun();
}

TEST_F(WindowBackOff, HooksGoWithTheirWindow) {
  NewWindow();
  int events = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++events; });
  tick.start(0);
  // Events run during the wait; a window asked to stop ends it at once.
  const auto start = SteadyClock::now();
  EXPECT_TRUE(WaitWithEvents(std::chrono::milliseconds(120), {}));
  EXPECT_GT(events, 0);
  window->form().Form_Unload();
  EXPECT_FALSE(WaitWithEvents(std::chrono::seconds(60), {}));
  EXPECT_TRUE(TakeWaitCancelled());
  EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(30));

  // Nothing left refers to the window once it is gone: a wait runs its full length unasked.
  hooks.reset();
  window.reset();
  events = 0;
  EXPECT_TRUE(WaitWithEvents(std::chrono::milliseconds(120), {}));
  EXPECT_FALSE(TakeWaitCancelled());
  EXPECT_EQ(events, 0);
}

}  // namespace
}  // namespace oa::ews::testing
