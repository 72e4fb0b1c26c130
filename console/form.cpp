#include "console/form.h"

#include <vector>

#include "base/mapi_error.h"
#include "handhelds/cleanup_hh.h"
#include "mailbox/connect_mailbox.h"
#include "settings/settings.h"

namespace oa::console {

using handhelds::CleanupHH;
using mailbox::RunOutcome;

Form::Form(Console& console, ActivityLog log) : console_(console), log_(std::move(log)) {}

Form::~Form() = default;

void Form::Form_Load(const settings::RegistryFiles& registry) {
  using settings::GetAdminSetting;
  using settings::GetAgentSetting;
  const oa::Variant none = oa::Variant::String("");
  console_.SetText(Control::txtExServer, GetAdminSetting(registry, "ExServer", none).ToText());
  if (console_.Text(Control::txtExServer).empty())
    console_.SetText(Control::txtExServer, GetAgentSetting(registry, "ExServer", none).ToText());
  console_.SetText(Control::txtAlias, GetAdminSetting(registry, "ExAlias", none).ToText());
  if (console_.Text(Control::txtAlias).empty())
    console_.SetText(Control::txtAlias, GetAgentSetting(registry, "ExAlias", none).ToText());
}

void Form::cmdOK_Click() {
  if (running_ || unloaded_) return;
  if (console_.Text(Control::txtExServer).empty()) {
    console_.MsgBox("You must supply the Exchange Server name!");
    console_.SetFocus(Control::txtExServer);
    return;
  }
  if (console_.Text(Control::txtAlias).empty()) {
    console_.MsgBox("You must supply the mailbox alias or address!");
    console_.SetFocus(Control::txtAlias);
    return;
  }
  if (console_.Value(Control::chkHH) == 0) {
    console_.MsgBox("You must choose at least one cleanup action!");
    console_.SetFocus(Control::chkHH);
    return;
  }

  running_ = true;
  run_.outcome = RunOutcome{};
  run_.outcome.started = true;
  run_.outcome.dryRun = run_.dryRun;
  const size_t refusedBefore = run_.refusedCalls ? run_.refusedCalls->Count() : 0;
  WriteLog("", true);
  // A window closed during the run ends it at its next step; the session is ended below.
  if (!unloaded_ && ConnectMailbox(run_) && !unloaded_) {
    if (console_.Value(Control::chkHH) == 1) CleanupHH(run_);
  }
  if (run_.dryRun) EndDryRun(refusedBefore);
  running_ = false;
  if (unloaded_) EndSession();
}

void Form::EndDryRun(size_t refusedBefore) {
  // A write the guard refused means a step forgot the dry run; it is shown, never hidden.
  if (run_.refusedCalls) {
    const std::vector<mailbox::RefusedCall> refused = run_.refusedCalls->All();
    for (size_t i = refusedBefore; i < refused.size(); ++i) {
      WriteLog("Dry run: refused " + refused[i].operation + " on " +
               (refused[i].target.empty() ? std::string("an unknown object") : refused[i].target));
    }
  }
  WriteLog("Dry run: nothing was changed");
}

void Form::cmdCancel_Click() {
  run_.bCancel = true;
  // Held-back deletes go out now, while the session is still the run's.
  SendHeldBack();
  for (int i = 0; i < 3; ++i) DoEvents();
  Form_Unload();
}

void Form::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (!running_) EndSession();
  console_.CloseWindow();
}

void Form::EndSession() {
  if (!run_.RDO) return;
  oa::ErrScope scope;
  run_.RDO->Logoff();
  run_.RDO.reset();
}

void Form::WriteLog(const std::string& sMsg, bool bClear) {
  const bool written = log_.Append(sMsg, bClear, [&] {
    // After an unload the console decides what a line still reaches (the window is gone,
    // standard output in the window-less mode is not).
    if (bClear) {
      console_.ClearResults();
    } else {
      console_.AppendResult(sMsg);
    }
    console_.RepaintResults();
    DoEvents();
  });
  // Once: a log that is lost is said, not hidden, but a line about it for every step would
  // drown the run's own lines. It follows the clearing, so a window keeps it in sight.
  if (!written && !toldLogNotWritten_ && !unloaded_) {
    toldLogNotWritten_ = true;
    console_.LogNotWritten("The activity log " + log_.path() + " cannot be written (" +
                           log_.error() + "); the run's lines are kept in no file");
    console_.RepaintResults();
  }
}

void Form::DoEvents() {
  console_.DoEvents();
  if (console_.HandledInput()) SendHeldBack();
}

void Form::MsgBox(const std::string& text) {
  SendHeldBack();
  console_.MsgBox(text);
}

void Form::SendHeldBack() {
  // While the run waits for the user the mailbox already shows what the window does.
  oa::ErrScope keep;
  if (run_.RDO && !unloaded_) run_.RDO->SendHeldBack();
}

void Form::SetProgress(const std::string& caption) {
  console_.SetProgress(caption);
}

std::string Form::ServerText() {
  return console_.Text(Control::txtExServer);
}

std::string Form::MailboxText() {
  return console_.Text(Control::txtAlias);
}

}  // namespace oa::console
