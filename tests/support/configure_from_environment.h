// For tests that set OA_EWS_*, OA_STORE_DIR or OA_REGISTRY_* in their own process: what the
// program would read from those variables (no configuration file), as it does at start-up.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "console/configuration.h"
#include "mailbox/backends.h"
#include "settings/config.h"

namespace oa::testing {

inline settings::Config ConfigFromEnvironment() {
  const settings::ConfigResult r =
      settings::LoadConfig({}, settings::ProcessEnvironment(), /*readFile=*/false);
  for (const std::string& e : r.errors) ADD_FAILURE() << e;
  return r.config;
}

// The backends' options the program would take from the variables.
inline mailbox::BackendOptions BackendOptionsFromEnvironment() {
  return console::BackendOptionsFor(ConfigFromEnvironment());
}

// The registry export files the program would take from the variables.
inline settings::RegistryFiles RegistryFilesFromEnvironment() {
  return settings::RegistryFilesOf(ConfigFromEnvironment());
}

// Registers the program's session classes with the options from the variables, as it does at
// start-up.
inline void RegisterFromEnvironment(std::shared_ptr<mailbox::Waiter> waiter = nullptr) {
  mailbox::RegisterSessionClasses(BackendOptionsFromEnvironment(), std::move(waiter));
}

}  // namespace oa::testing
