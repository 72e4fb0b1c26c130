// Whole cleanup runs against real store files: OK pressed on the core window with a recording
// console, the store exported afterwards.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "console/form.h"
#include "tests/handhelds/store_run.h"
#include "tests/support/recording_console.h"

namespace oa::testing {

class StoreRun : public StoreFiles {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A fresh window on the store; the previous one is closed first.
  console::Form& NewForm();
  // One press of OK on a fresh window; the results box lines of the run.
  std::vector<std::string> PressOK();

  RecordingConsole console;
  std::unique_ptr<console::Form> form;
};

}  // namespace oa::testing
