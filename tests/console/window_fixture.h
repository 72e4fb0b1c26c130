// A real cleanup window, offscreen, logging to a file in a fresh temporary directory with a
// clock that stands still, and message boxes recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "console/qt/frmCleanup.h"

namespace oa::testing {

// 2 January 2024, 13:02:03 local time, and its text in the C locale.
inline constexpr double kDay = 45293.0;
inline constexpr double kAfternoon = (13 * 3600 + 2 * 60 + 3) / 86400.0;
inline const std::string kStamp = "01/02/24 13:02:03";

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "oa-console-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeWindow(logPath()); }

  void TearDown() override { window.reset(); }

  void MakeWindow(const std::filesystem::path& log) {
    window = std::make_unique<qt::frmCleanup>(
        console::ActivityLog(log.string(), [this] { return oa::Date{now}; }));
    window->showMessageBox = [this](const std::string& text) { boxes.push_back(text); };
  }

  // Shown and active, as after start-up: keyboard focus and shortcuts work from here.
  void Show() {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 30000));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 30000));
  }

  QWidget* W(console::Control c) const { return window->Widget(c); }

  std::filesystem::path logPath() const { return dir.path() / "OA-Cleanup.log"; }
  std::string Log() const { return ReadFile(logPath()); }
  bool LogExists() const { return std::filesystem::exists(logPath()); }

  int Px(float twips) const {
    return static_cast<int>(std::lround(twips * static_cast<float>(window->logicalDpiX()) / 1440));
  }
  QRect PixelRect(const console::Geometry& g) const {
    return QRect(Px(g.Left), Px(g.Top), Px(g.Left + g.Width) - Px(g.Left),
                 Px(g.Top + g.Height) - Px(g.Top));
  }

  TempDir dir;
  double now = kDay + kAfternoon;
  std::unique_ptr<qt::frmCleanup> window;
  std::vector<std::string> boxes;
};

}  // namespace oa::testing
