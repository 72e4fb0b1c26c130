// The configuration at start-up: read once from the options, the per-user file and the
// variables, then handed down to the backends and the registry lookups.
#pragma once

#include <functional>
#include <optional>
#include <ostream>

#include "mailbox/backends.h"
#include "settings/config.h"
#include "settings/settings.h"

namespace oa::console {

// The backends' options for a configuration. `askPassword`, when given, is how a missing
// password is asked for.
mailbox::BackendOptions BackendOptionsFor(
    const settings::Config& config,
    std::function<std::optional<std::string>(const std::string& user)> askPassword = {});

// What the program runs with once configured: the backends' options, for the session classes
// it registers, and the registry export files the boxes are filled from.
struct Configured {
  mailbox::BackendOptions backends;
  settings::RegistryFiles registry;
};

// Reads the configuration into `configured`. Returns nullopt to go on, or the exit status when
// the program is done: 0 after --check-config, 2 when the configuration is invalid (each error
// written to err, naming its input and the reason). A window-less run on a terminal asks for a
// missing password without echo. --check-config also prints `logPath`, the activity log's file.
std::optional<int> Configure(const settings::ConfigOptions& options, bool checkConfig,
                             bool askOnTerminal, const std::string& logPath, std::ostream& out,
                             std::ostream& err, Configured& configured);

}  // namespace oa::console
