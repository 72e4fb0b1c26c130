// The real window on a real X server at 96 DPI: every control where the grid puts it, in
// pixels, and a screenshot of it in the build tree for a person to look at.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "console/qt/frmCleanup.h"
#include "console/qt/qt_platform.h"

extern char** environ;

namespace oa::qt {

using console::ActivityLog;
using console::Control;
using console::ControlKind;
using console::ControlSpec;
using console::Index;
using console::kControls;

namespace {

// An Xvfb server on a display number of its own choosing, ended when this goes.
class XvfbServer {
 public:
  XvfbServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd",   fd.c_str(),  "-dpi", "96",   "-screen",
                          "0",    "1280x1024x24", "-nolisten", "tcp",  nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const int rc =
        posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      pid_ = 0;
      close(fds[0]);
      return;
    }
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 60000) > 0) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~XvfbServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

TEST(XvfbWindow, GridInPixelsAt96DpiAndScreenshot) {
  XvfbServer server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  unsetenv("QT_SCALE_FACTOR");

  static int argc = 1;
  static char name[] = "console_xvfb_tests";
  static char* argv[] = {name, nullptr};
  PrepareQtPlatform();
  QApplication app(argc, argv);
  ASSERT_EQ(QGuiApplication::platformName(), QString("xcb"));

  frmCleanup window{ActivityLog((std::filesystem::temp_directory_path() / "oa-xvfb.log").string())};
  window.SetText(Control::txtExServer, "exch01.example.com");
  window.SetText(Control::txtAlias, "jdoe");
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
  window.form().WriteLog("GetAgentFolders found the agent message");
  window.form().WriteLog(
      "a line longer than the results box is wide, so that its scroll bar "
      "has something to scroll");
  window.SetProgress("Count = 1234");

  ASSERT_EQ(window.logicalDpiX(), 96);
  ASSERT_EQ(window.logicalDpiY(), 96);
  EXPECT_EQ(window.devicePixelRatio(), 1.0);
  // 5685 x 4380 twips at 15 twips a pixel.
  EXPECT_EQ(window.size(), QSize(379, 292));

  struct Expected {
    Control control;
    QRect rect;
  };
  // The grid divided by 15; txtResult already stretched down by the first resize: 3060 twips.
  const Expected grid[] = {
      {Control::txtResult, {8, 80, 361, 204}},    {Control::txtExServer, {128, 7, 169, 19}},
      {Control::txtAlias, {128, 31, 169, 19}},    {Control::chkHH, {8, 56, 145, 17}},
      {Control::cmdCancel, {312, 28, 57, 25}},    {Control::cmdOK, {312, 4, 57, 25}},
      {Control::lblProgress, {160, 56, 209, 17}}, {Control::Label2, {8, 8, 105, 17}},
      {Control::Label1, {8, 32, 113, 17}},
  };
  for (const Expected& e : grid) {
    QWidget* w = window.Widget(e.control);
    EXPECT_EQ(w->geometry(), e.rect) << kControls[Index(e.control)].name;
    // Where the X server has the control: relative to the window's own client origin.
    EXPECT_EQ(QRect(w->mapTo(&window, QPoint(0, 0)), w->size()), e.rect);
  }

  // Every caption fits its control in the window's face (nothing cut off at the right).
  for (const ControlSpec& row : kControls) {
    QString caption = QString::fromUtf8(row.caption).remove(QLatin1Char('&'));
    if (caption.isEmpty()) continue;
    QWidget* w = window.Widget(row.control);
    int needed = w->fontMetrics().horizontalAdvance(caption);
    if (row.kind == ControlKind::CheckBox) {
      needed += w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    }
    EXPECT_LE(needed, w->width()) << row.name << " in " << w->font().family().toStdString();
  }

  // Something was drawn: text, frames, buttons; not one flat colour. The paints reach the
  // server in their own time, so the window is grabbed until they show.
  QImage shot;
  std::set<QRgb> colours;
  (void)QTest::qWaitFor(  // the checks below tell what a timeout left
      [&] {
        shot = window.screen()->grabWindow(window.winId()).toImage();
        colours.clear();
        for (int y = 0; y < shot.height(); y += 2)
          for (int x = 0; x < shot.width(); x += 2) colours.insert(shot.pixel(x, y));
        return shot.size() == QSize(379, 292) && colours.size() > 8u;
      },
      60000);
  EXPECT_EQ(shot.size(), QSize(379, 292));
  EXPECT_GT(colours.size(), 8u);
  const std::string file = std::string(OA_SCREENSHOT_DIR) + "/frmCleanup-96dpi.png";
  EXPECT_TRUE(shot.save(QString::fromStdString(file))) << file;

  // A new count repaints only the pixels it changes: what the X server shows must be what a
  // whole repaint of the same caption gives, also when the number gets shorter or the text
  // changes in front of it.
  QWidget* label = window.Widget(Control::lblProgress);
  const QRect onWindow(label->mapTo(&window, QPoint(0, 0)), label->size());
  for (const char* caption :
       {"Count = 1000", "Count = 999", "Count = 998", "Count = 10", "Count = 9", "Count = 0",
        "Count = 12345678901234", "Count = 7", "Deleted 5000 items", "Zählung = 5", "Count = 41"}) {
    window.SetProgress(caption);
    const QImage whole = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage shown;
    const bool same = QTest::qWaitFor(
        [&] {
          shown = window.screen()
                      ->grabWindow(window.winId(), onWindow.x(), onWindow.y(), onWindow.width(),
                                   onWindow.height())
                      .toImage()
                      .convertToFormat(QImage::Format_RGB32);
          return shown == whole;
        },
        10000);
    EXPECT_TRUE(same) << caption;
    if (!same)
      shown.save(QString::fromStdString(std::string(OA_SCREENSHOT_DIR) + "/lblProgress-" + caption +
                                        ".png"));
  }
  std::filesystem::remove(std::filesystem::temp_directory_path() / "oa-xvfb.log");
}

}  // namespace
}  // namespace oa::qt
