// oa-cleanup: loads and shows the cleanup window; the program ends when the window unloads.
#include <QApplication>
#include <clocale>
#include <iostream>

#include "console/nowindow/run_without_window.h"
#include "console/options.h"
#include "console/qt/frmCleanup.h"
#include "mailbox/store/embedded_store.h"
#include "settings/check_registry.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  oa::Options options;
  if (std::optional<int> status = oa::ParseOptions(argc, argv, options, std::cout, std::cerr))
    return *status;
  if (options.checkRegistry) return oa::settings::CheckRegistry(std::cout);

  oa::store::RegisterEmbeddedSessionClass();
  if (options.noWindow.noWindow) return oa::nowindow::RunWithoutWindow(options.noWindow);

  // Qt sees only the program name: every argument has been read above.
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  oa::frmCleanup window{oa::ActivityLog(options.logPath)};
  window.Load();
  window.show();
  return app.exec();
}
