// oa-cleanup: loads and shows the cleanup window; the program ends when the window unloads.
// The window is Win32 on Windows and Qt elsewhere; a build without it (OA_WINDOW=OFF) runs
// only with --no-window.
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "console/configuration.h"
#include "console/nowindow/cancel_signals.h"
#include "console/nowindow/run_without_window.h"
#include "console/options.h"
#include "mailbox/backends.h"
#include "settings/check_registry.h"

#if defined(OA_WITH_WIN32_WINDOW)
#include "console/win32/run_window.h"
#elif defined(OA_WITH_WINDOW)
#include <QApplication>

#include "console/qt/ews_wait_hooks.h"
#include "console/qt/frmCleanup.h"
#include "console/qt/qt_platform.h"
#endif

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  oa::console::Options options;
  // UTF-8 on every system: file names and mailbox names may be in any script.
  const std::vector<std::string> args = oa::CommandLineArguments(argc, argv);
  std::vector<const char*> arg;
  for (const std::string& a : args) arg.push_back(a.c_str());
  if (std::optional<int> status = oa::console::ParseOptions(
          static_cast<int>(arg.size()), arg.data(), options, std::cout, std::cerr))
    return *status;
  // Every setting is read here, once; an invalid one stops the program before anything runs.
  oa::console::Configured configured;
  if (std::optional<int> status =
          oa::console::Configure(options.config, options.checkConfig, options.noWindow.noWindow,
                                 options.logPath, std::cout, std::cerr, configured))
    return *status;
  if (options.checkRegistry) return oa::settings::CheckRegistry(std::cout, configured.registry);

  // Store files open the embedded store; any other server text is an Exchange server. Their
  // waits for a busy server ask `waiter`, which the window or the signals fill in below.
  auto waiter = std::make_shared<oa::mailbox::WaitHooks>();
  oa::mailbox::RegisterSessionClasses(std::move(configured.backends), waiter);
  if (options.noWindow.noWindow) {
    // No event loop runs during a wait for a busy server: Ctrl+C or SIGTERM cuts the wait short
    // itself, and the run ends at its next step as after any other signal.
    waiter->SetWaitCancelCheck(&oa::nowindow::CancelSignalPending);
    // A request in flight is cut short too, instead of running on to its time-out.
    waiter->SetRequestCancelCheck(&oa::nowindow::CancelSignalPending);
    return oa::nowindow::RunWithoutWindow(options.noWindow, configured.registry);
  }

#if defined(OA_WITH_WIN32_WINDOW)
  return oa::win32::RunWindow(options.logPath, *waiter);
#elif !defined(OA_WITH_WINDOW)
  std::cerr << "oa-cleanup: this build has no window; run it with --no-window\n";
  return 2;
#else
  // Qt sees only the program name: every argument has been read above.
  int qtArgc = 1;
  if (std::optional<std::string> reason = oa::qt::NoDisplayReason()) {
    std::cerr << "oa-cleanup: no display to open the window on (" << *reason
              << "); run it with --no-window to clean up without a window, or see --help\n";
    return 2;
  }
  oa::qt::PrepareQtPlatform();
  QApplication app(qtArgc, argv);
  oa::qt::frmCleanup window{oa::console::ActivityLog(options.logPath)};
  // A call waiting out a busy server still lets repaints through, and Cancel ends the wait.
  oa::qt::WindowWaitHooks waitHooks(window, *waiter);
  window.Load(configured.registry);
  window.show();
  return app.exec();
#endif
}
