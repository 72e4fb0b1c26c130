// WriteLog on the real window: the results box, the log file's lines and their stamps, and a
// file that cannot be written.
#include <unistd.h>

#include <QPlainTextEdit>
#include <QTimer>

#include "window_fixture.h"

namespace oa::testing {

using console::ActivityLog;
using console::Control;

namespace {

// Whether this process has the file open now.
bool HeldOpen(const std::filesystem::path& file) {
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(fd.path(), ec) == file) return true;
  }
  return false;
}

TEST_F(WindowTest, OrdinaryLineIsStampColonMessageCrLf) {
  Show();
  window->form().WriteLog("GetAgentFolders found the agent message");
  EXPECT_EQ(Log(), kStamp + ":GetAgentFolders found the agent message\r\n");
  EXPECT_EQ(window->ResultsText(), "GetAgentFolders found the agent message\r\n");
}

TEST_F(WindowTest, StampInTheUserLocaleAndMidnightAsTheDateAlone) {
  EXPECT_EQ(ActivityLog::StampText(oa::Date{kDay + kAfternoon}), kStamp);
  now = kDay;
  window->form().WriteLog("at midnight");
  now = kDay + 1.0 / 86400;
  window->form().WriteLog("a second later");
  EXPECT_EQ(Log(), "01/02/24:at midnight\r\n01/02/24 00:00:01:a second later\r\n");
}

TEST_F(WindowTest, ClearLineEmptiesTheBoxAndWritesTheMessageAlone) {
  Show();
  window->form().WriteLog("one");
  window->form().WriteLog("two");
  window->form().WriteLog("", true);
  EXPECT_EQ(window->ResultsText(), "");
  EXPECT_EQ(Log(), kStamp + ":one\r\n" + kStamp + ":two\r\n\r\n");
  // The clear form writes its text unstamped and keeps it out of the box.
  window->form().WriteLog("set-off", true);
  EXPECT_EQ(window->ResultsText(), "");
  EXPECT_EQ(Log(), kStamp + ":one\r\n" + kStamp + ":two\r\n\r\nset-off\r\n");
}

TEST_F(WindowTest, EmptyOrdinaryMessage) {
  window->form().WriteLog("");
  EXPECT_EQ(Log(), kStamp + ":\r\n");
  EXPECT_EQ(window->ResultsText(), "\r\n");
}

// A text from a server may hold line breaks and terminal controls: in the box it spans lines,
// in the file it stays on its one stamped line, so that it cannot pass for a line of its own.
TEST_F(WindowTest, MessageWithCrLfSpansLinesInTheBoxAndStaysOneLineInTheFile) {
  Show();
  window->form().WriteLog("CleanupHH: first\r\n" + kStamp + ":forged\x1b[2K\nsecond");
  window->form().WriteLog("third");
  EXPECT_EQ(Log(), kStamp + ":CleanupHH: first\\x0d\\x0a" + kStamp +
                       ":forged\\x1b[2K\\x0asecond\r\n" + kStamp + ":third\r\n");
  EXPECT_EQ(window->ResultsText(),
            "CleanupHH: first\r\n" + kStamp + ":forged\x1b[2K\r\nsecond\r\nthird\r\n");
  auto* box = qobject_cast<QPlainTextEdit*>(W(Control::txtResult));
  EXPECT_EQ(box->document()->blockCount(), 5) << "four lines and the empty one after them";
}

TEST_F(WindowTest, TwoRunsOfLinesTheFileKeepsBoth) {
  for (const char* line : {"", "run one"}) window->form().WriteLog(line, *line == '\0');
  for (const char* line : {"", "run two"}) window->form().WriteLog(line, *line == '\0');
  EXPECT_EQ(window->ResultsText(), "run two\r\n");
  EXPECT_EQ(Log(), "\r\n" + kStamp + ":run one\r\n\r\n" + kStamp + ":run two\r\n");
}

TEST_F(WindowTest, FileIsOpenDuringEventsAndClosedBetweenLines) {
  Show();
  bool openDuringEvents = false;
  std::string seenDuringEvents;
  QTimer::singleShot(0, window.get(), [&] {
    openDuringEvents = HeldOpen(logPath());
    seenDuringEvents = Log();
  });
  window->form().WriteLog("first");
  EXPECT_TRUE(openDuringEvents);
  EXPECT_EQ(seenDuringEvents, kStamp + ":first\r\n") << "written before events run";
  EXPECT_FALSE(HeldOpen(logPath()));
  // Someone removes the file between two lines: the next line creates it again.
  std::filesystem::remove(logPath());
  window->form().WriteLog("second");
  EXPECT_EQ(Log(), kStamp + ":second\r\n");
}

TEST_F(WindowTest, UnwritableFileStillFillsTheBox) {
  // A directory where the file should be: no process, root or not, can open it for appending.
  const std::filesystem::path blocked = dir.path() / "blocked";
  std::filesystem::create_directory(blocked);
  MakeWindow(blocked);
  Show();
  int eventsRun = 0;
  for (const char* line : {"", "GetAgentFolders one", "GetAgentFolders two"}) {
    QTimer::singleShot(0, window.get(), [&] { ++eventsRun; });
    window->form().WriteLog(line, *line == '\0');
  }
  // The box says once, after its clearing, that the file lacks the lines.
  EXPECT_EQ(window->ResultsText(), "The activity log " + blocked.string() +
                                       " cannot be written (Is a directory); the run's lines are "
                                       "kept in no file\r\nGetAgentFolders one\r\nGetAgentFolders "
                                       "two\r\n");
  EXPECT_EQ(eventsRun, 3) << "events are still processed";
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(std::filesystem::is_empty(blocked));
}

}  // namespace
}  // namespace oa::testing
