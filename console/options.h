// The command line of oa-cleanup.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "console/nowindow/run_without_window.h"
#include "settings/config.h"

namespace oa::console {

struct Options {
  // The activity log file; "OA-Cleanup.log" beside the program unless --log names another.
  std::string logPath;
  bool checkRegistry = false;
  // Print every backend setting with where it came from, then exit.
  bool checkConfig = false;
  // --config, --impersonate, --user, --password-file, --ca-file, ... as given.
  settings::ConfigOptions config;
  // --no-window and the options of a run or a batch without a window.
  nowindow::NoWindowOptions noWindow;
};

// Parses the command line into `options`. Returns the exit status when the program has
// nothing more to do (--help, --version, a bad option), with its text written to out or err.
std::optional<int> ParseOptions(int argc, const char* const* argv, Options& options,
                                std::ostream& out, std::ostream& err);

}  // namespace oa::console
