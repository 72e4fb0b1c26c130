// Runs the window tests inside one QApplication, offscreen unless a platform is set.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "console/qt/qt_platform.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  oa::qt::PrepareQtPlatform();
  QApplication app(argc, argv);
  // Stamps are compared in the C locale's date and time formats.
  std::setlocale(LC_ALL, "C");
  return RUN_ALL_TESTS();
}
