// For tests that set OA_EWS_* or OA_STORE_DIR in their own process: hands the backends what the
// program would read from those variables (no configuration file), as it does at start-up.
#pragma once

#include <gtest/gtest.h>

#include "console/configuration.h"
#include "settings/config.h"

namespace oa::testing {

inline void ConfigureFromEnvironment() {
  const settings::ConfigResult r =
      settings::LoadConfig({}, settings::ProcessEnvironment(), /*readFile=*/false);
  for (const std::string& e : r.errors) ADD_FAILURE() << e;
  mailbox::ConfigureBackends(console::BackendOptionsFor(r.config));
}

}  // namespace oa::testing
