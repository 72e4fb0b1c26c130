#include "console/options.h"

#include <CLI/CLI.hpp>

#include "console/activity_log.h"

namespace oa {

std::optional<int> ParseOptions(int argc, const char* const* argv, Options& options,
                                std::ostream& out, std::ostream& err) {
  CLI::App app{"ondavel Agent Cleanup: replaces the Handhelds folder of one mailbox.",
               "oa-cleanup"};
  app.set_version_flag("--version", OA_VERSION);
  std::string logPath;
  app.add_option("--log", logPath,
                 "Activity log file (default: OA-Cleanup.log in the program's directory)")
      ->type_name("FILE");
  app.add_flag("--check-registry", options.checkRegistry,
               "Print the registry sources read for the default server and mailbox, then exit");
  nowindow::AddNoWindowOptions(app, options.noWindow);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Usage errors end with status 2 and CLI11's one-line hint.
    const int status = app.exit(e, out, err);
    return status == 0 ? 0 : 2;
  }
  options.logPath = logPath.empty() ? ActivityLog::DefaultPath() : logPath;
  options.noWindow.logFile = options.logPath;
  return std::nullopt;
}

}  // namespace oa
