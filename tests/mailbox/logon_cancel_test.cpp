// Cancel pressed in the window while the logon runs, through the window's own OK and Cancel.
#include <gtest/gtest.h>

#include <memory>

#include "console/form.h"
#include "tests/mailbox/store_fixture.h"
#include "tests/support/recording_console.h"

namespace oa::testing {

using console::Control;

namespace {

class Logon : public StoreRun {
 protected:
  void SetUp() override {
    StoreRun::SetUp();
    Import(AgentDump(Json::array({Message("agent", "2026-03-01T09:00:00Z", "ondavelAgent",
                                          "ondavel.Agent", {{"HHPath", "\\Handhelds"}})})));
    form =
        std::make_unique<console::Form>(console, console::ActivityLog(dir() + "/OA-Cleanup.log"));
  }

  void TearDown() override {
    if (form && form->run().RDO) {
      form->run().RDO->Logoff();
      form->run().RDO.reset();
    }
    form.reset();
    StoreRun::TearDown();
  }

  RecordingConsole console;
  std::unique_ptr<console::Form> form;
};

TEST_F(Logon, CancelDuringTheLogonEndsTheRunAndReleasesTheSession) {
  console.texts[Control::txtExServer] = storePath;
  console.texts[Control::txtAlias] = "jdoe";
  bool clicked = false;
  console.onEvents = [&] {
    if (!clicked && !console.results.empty() &&
        console.results.back().rfind("Logging on", 0) == 0) {
      clicked = true;
      form->cmdCancel_Click();
    }
  };
  form->cmdOK_Click();
  EXPECT_EQ(console.results, (Lines{"instantiating RDO", "Logging on with jdoe " + storePath}));
  EXPECT_FALSE(form->run().RDO);
  EXPECT_TRUE(form->run().bCancel);
}

}  // namespace
}  // namespace oa::testing
