#include "tests/handhelds/form_run.h"

#include "console/activity_log.h"

namespace oa::testing {

using console::ActivityLog;
using console::Control;
using console::Form;

void StoreRun::SetUp() {
  StoreFiles::SetUp();
  console.texts[Control::txtExServer] = storePath;
  console.texts[Control::txtAlias] = kAlias;
}

void StoreRun::TearDown() {
  form.reset();
  StoreFiles::TearDown();
}

Form& StoreRun::NewForm() {
  // One start of the program: the session of the window before goes on in the next.
  std::shared_ptr<mailbox::RDOSession> session = form ? form->run().RDO : nullptr;
  form.reset();
  console.results.clear();
  console.progress.clear();
  form = std::make_unique<Form>(console, ActivityLog((dir / "OA-Cleanup.log").string()));
  form->run().RDO = std::move(session);
  return *form;
}

std::vector<std::string> StoreRun::PressOK() {
  NewForm().cmdOK_Click();
  return console.results;
}

}  // namespace oa::testing
