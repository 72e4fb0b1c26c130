// OK, Cancel and unloading on the real window: the input checks, the start of a run, and how
// a run ends when the window goes away in the middle of it.
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <ostream>

#include "tests/support/null_session.h"
#include "window_fixture.h"

namespace oa::testing {

using console::Control;
using qt::frmCleanup;

namespace {

// A session whose only job is to tell when, and how often, it was logged off. The logon is
// never reached in these tests.
class LogoffCounter : public NullSession {
 public:
  explicit LogoffCounter(std::function<void()> onLogoff) : onLogoff_(std::move(onLogoff)) {}
  bool LoggedOn() override { return true; }
  void Logoff() override {
    ++logoffs;
    if (onLogoff_) onLogoff_();
  }
  int logoffs = 0;

 private:
  std::function<void()> onLogoff_;
};

struct InputCase {
  const char* server;
  const char* alias;
  bool ticked;
  const char* message;
  Control focus;
};

// Names the case by its input, so the test list reads the same in every run.
void PrintTo(const InputCase& c, std::ostream* os) {
  *os << "server '" << c.server << "', alias '" << c.alias << "', "
      << (c.ticked ? "ticked" : "unticked");
}

class InputCheckTest : public WindowTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(InputCheckTest, MessageFocusAndNoRun) {
  const InputCase& c = GetParam();
  Show();
  window->SetText(Control::txtExServer, c.server);
  window->SetText(Control::txtAlias, c.alias);
  qobject_cast<QAbstractButton*>(W(Control::chkHH))->setChecked(c.ticked);
  window->SetText(Control::txtResult, "an earlier run\r\n");
  W(Control::cmdOK)->setFocus();

  QTest::mouseClick(W(Control::cmdOK), Qt::LeftButton);

  EXPECT_EQ(boxes, std::vector<std::string>{c.message});
  EXPECT_EQ(QApplication::focusWidget(), W(c.focus));
  EXPECT_FALSE(LogExists()) << "an input check writes no log line";
  EXPECT_EQ(window->ResultsText(), "an earlier run\r\n");
  EXPECT_FALSE(window->form().run().RDO) << "no run, so no session";
  EXPECT_TRUE(window->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    ThreeChecksInOrder, InputCheckTest,
    ::testing::Values(InputCase{"", "", false, "You must supply the Exchange Server name!",
                                Control::txtExServer},
                      InputCase{"", "jdoe", true, "You must supply the Exchange Server name!",
                                Control::txtExServer},
                      InputCase{"exch01", "", false,
                                "You must supply the mailbox alias or address!", Control::txtAlias},
                      InputCase{"exch01", "", true, "You must supply the mailbox alias or address!",
                                Control::txtAlias},
                      InputCase{"exch01", "jdoe", false,
                                "You must choose at least one cleanup action!", Control::chkHH}));

TEST_F(WindowTest, BlanksPassTheChecksAndStartARun) {
  Show();
  window->SetText(Control::txtExServer, " ");
  window->SetText(Control::txtAlias, "  ");
  window->SetText(Control::txtResult, "an earlier run\r\n");
  QTest::mouseClick(W(Control::cmdOK), Qt::LeftButton);

  EXPECT_EQ(window->Text(Control::txtExServer), " ") << "the box is used unchanged";
  const std::string log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.substr(0, 2), "\r\n") << "a run starts with a clear line";
  EXPECT_EQ(window->ResultsText().find("an earlier run"), std::string::npos);
  EXPECT_FALSE(window->form().Running());
}

// What a run wrote to the file after its clear line, as the box shows it: without stamps.
std::string WithoutStamps(std::string fileText) {
  const std::string prefix = kStamp + ":";
  for (std::size_t at = fileText.find(prefix); at != std::string::npos;
       at = fileText.find(prefix, at))
    fileText.erase(at, prefix.size());
  return fileText;
}

TEST_F(WindowTest, TwoRunsTheBoxShowsTheSecondTheFileHoldsBoth) {
  Show();
  window->SetText(Control::txtExServer, "exch01");
  window->SetText(Control::txtAlias, "jdoe");
  QTest::mouseClick(W(Control::cmdOK), Qt::LeftButton);
  const std::string first = Log();
  ASSERT_EQ(first.substr(0, 2), "\r\n");
  EXPECT_EQ(window->ResultsText(), WithoutStamps(first.substr(2)));

  QTest::mouseClick(W(Control::cmdOK), Qt::LeftButton);
  const std::string both = Log();
  ASSERT_EQ(both.substr(0, first.size()), first);
  const std::string second = both.substr(first.size());
  ASSERT_EQ(second.substr(0, 2), "\r\n");
  EXPECT_EQ(window->ResultsText(), WithoutStamps(second.substr(2)));
}

TEST_F(WindowTest, SecondOkDuringARunIsIgnored) {
  Show();
  window->SetText(Control::txtExServer, "exch01");
  window->SetText(Control::txtAlias, "jdoe");
  bool pressedDuringRun = false;
  // Arrives at the first event-processing point of the run.
  QTimer::singleShot(0, window.get(), [&] {
    pressedDuringRun = window->form().Running();
    qobject_cast<QPushButton*>(W(Control::cmdOK))->click();
  });
  QTest::mouseClick(W(Control::cmdOK), Qt::LeftButton);
  ASSERT_TRUE(pressedDuringRun);
  const std::string log = Log();
  EXPECT_EQ(log.substr(0, 2), "\r\n");
  EXPECT_NE(log.substr(0, 4), "\r\n\r\n") << "a second run started inside the first";
}

TEST_F(WindowTest, CancelBeforeAnyRunClosesTheWindow) {
  Show();
  QTest::mouseClick(W(Control::cmdCancel), Qt::LeftButton);
  EXPECT_TRUE(window->form().run().bCancel);
  EXPECT_TRUE(window->form().Unloaded());
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->form().run().RDO);
  EXPECT_FALSE(LogExists());
  EXPECT_TRUE(boxes.empty());
}

// The program's event loop ends when the window unloads, also from inside a run.
TEST_F(WindowTest, ProgramEndsWhenTheWindowUnloads) {
  Show();
  window->SetText(Control::txtExServer, "exch01");
  window->SetText(Control::txtAlias, "jdoe");
  QTimer giveUp;
  giveUp.setSingleShot(true);
  QObject::connect(&giveUp, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
  giveUp.start(60000);  // a bound only: the loop ends at once when it works
  // OK, and Cancel arriving at the run's first event-processing point.
  QTimer::singleShot(0, window.get(), [&] {
    QTimer::singleShot(0, window.get(),
                       [&] { qobject_cast<QPushButton*>(W(Control::cmdCancel))->click(); });
    qobject_cast<QPushButton*>(W(Control::cmdOK))->click();
  });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(window->form().run().bCancel);
  EXPECT_FALSE(window->form().Running());
  EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, UnloadLogsTheSessionOffAndReleasesIt) {
  Show();
  auto session = std::make_shared<LogoffCounter>(nullptr);
  window->form().run().RDO = session;
  window->close();  // by the frame: no cancel flag
  EXPECT_EQ(session->logoffs, 1);
  EXPECT_FALSE(window->form().run().RDO);
  EXPECT_FALSE(window->form().run().bCancel);
  EXPECT_FALSE(window->isVisible());
}

// Closing during a run: the run ends at its next step; the session goes only once the run
// has unwound, and nothing shows the window again.
void ExpectRunEndsWhenUnloadedDuringIt(WindowTest& t, frmCleanup& window,
                                       const std::function<void()>& unload) {
  bool runningAtLogoff = true;
  auto session =
      std::make_shared<LogoffCounter>([&] { runningAtLogoff = window.form().Running(); });
  window.form().run().RDO = session;
  window.SetText(Control::txtExServer, "exch01");
  window.SetText(Control::txtAlias, "jdoe");
  bool unloadedInRun = false;
  QTimer::singleShot(0, &window, [&] {
    unloadedInRun = window.form().Running();
    unload();
  });
  QTest::mouseClick(window.Widget(Control::cmdOK), Qt::LeftButton);

  ASSERT_TRUE(unloadedInRun);
  EXPECT_FALSE(window.form().Running());
  EXPECT_EQ(session->logoffs, 1);
  EXPECT_FALSE(runningAtLogoff) << "logged off while the run still used the session";
  EXPECT_FALSE(window.form().run().RDO);
  EXPECT_FALSE(window.isVisible());
  // The run stopped right after its first line: the clear line.
  EXPECT_EQ(ReadFile(std::filesystem::path(window.form().log().path())), "\r\n");
  // Nor do the events the run left queued.
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_FALSE(window.isVisible());
  (void)t;
}

TEST_F(WindowTest, CancelDuringARunEndsIt) {
  Show();
  ExpectRunEndsWhenUnloadedDuringIt(
      *this, *window, [&] { qobject_cast<QPushButton*>(W(Control::cmdCancel))->click(); });
  EXPECT_TRUE(window->form().run().bCancel);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, ClosingByTheFrameDuringARunEndsIt) {
  Show();
  ExpectRunEndsWhenUnloadedDuringIt(*this, *window, [&] { window->close(); });
  EXPECT_FALSE(window->form().run().bCancel);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, NoMessageBoxOnceTheWindowIsGone) {
  Show();
  window->close();
  window->MsgBox("You must supply the Exchange Server name!");
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace oa::testing
