// oa-cleanup without its window, with the session classes of the finished program: a store
// file server text opens the embedded store, any other text is an Exchange server over EWS.
// The end-to-end tests run it over the loopback EWS server.
#include <clocale>
#include <iostream>

#include "console/nowindow/run_without_window.h"
#include "console/options.h"
#include "mailbox/ews/session_classes.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  oa::Options options;
  if (std::optional<int> status = oa::ParseOptions(argc, argv, options, std::cout, std::cerr))
    return *status;
  oa::ews::RegisterSessionClasses();
  if (!options.noWindow.noWindow) {
    std::cerr << "this test driver runs only with --no-window\n";
    return 2;
  }
  return oa::nowindow::RunWithoutWindow(options.noWindow);
}
