#include "console/nowindow/run_outcome.h"

#include <cctype>
#include <charconv>
#include <memory>

#include "base/mapi_error.h"
#include "console/form.h"
#include "handhelds/folder_lookup.h"
#include "mailbox/basGlobals.h"
#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"

namespace oa::nowindow {
namespace {

constexpr std::string_view kItemCountPrefix = "CleanupHH: message count = ";

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool SameEntryID(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The HHEntryID the agent message holds now, read back from the store.
std::string AgentHHEntryID(Form& form) {
  if (!RDO || form.agentMessageEntryID.empty()) return "";
  std::shared_ptr<mailbox::RDOMail> message = RDO->GetMessageFromID(form.agentMessageEntryID);
  if (!message) return "";
  const int32_t tag = basRDO::GetNamedPropTag(message.get(), mailbox::Variant::String("HHEntryID"),
                                              mailbox::ConstMAPI::PT_STRING8, "");
  return message->Fields(tag).ToText();
}

}  // namespace

int ExitStatus(Outcome outcome) {
  switch (outcome) {
    case Outcome::completed:
      return 0;
    case Outcome::incomplete:
      return 1;
    case Outcome::input:
      return 2;
    case Outcome::logon:
      return 3;
    case Outcome::cancelled:
      return 130;
  }
  return 1;
}

const char* OutcomeWord(Outcome outcome) {
  switch (outcome) {
    case Outcome::completed:
      return "completed";
    case Outcome::incomplete:
      return "incomplete";
    case Outcome::input:
      return "input";
    case Outcome::logon:
      return "logon";
    case Outcome::cancelled:
      return "cancelled";
  }
  return "incomplete";
}

void RunTrace::Started() {
  *this = RunTrace{};
  started_ = true;
}

void RunTrace::Line(const std::string& line) {
  lastLine_ = line;
  if (line == "no RDO" || StartsWith(line, "RDO.LoggedOn = False ") ||
      line == "Failed to access agent folders") {
    logonFailed_ = true;
  } else if (line == "pointed agent to new Handhelds folder") {
    pointed_ = true;
  } else if (StartsWith(line, kItemCountPrefix)) {
    int64_t n = 0;
    const char* first = line.data() + kItemCountPrefix.size();
    const char* last = line.data() + line.size();
    auto [end, ec] = std::from_chars(first, last, n);
    if (ec == std::errc() && end == last) itemCount_ = n;
  }
}

RunResult JudgeRun(const RunTrace& trace, Form& form, bool signalled) {
  RunResult result;
  result.itemCount = trace.itemCount();
  result.lastLine = trace.lastLine();
  if (signalled) {
    result.outcome = Outcome::cancelled;
  } else if (!trace.started()) {
    result.outcome = Outcome::input;
  } else if (trace.logonFailed()) {
    result.outcome = Outcome::logon;
  } else if (!trace.pointed() || form.Unloaded() || !RDO) {
    result.outcome = Outcome::incomplete;
  } else {
    mailbox::ErrScope scope;
    const std::string newID = AgentHHEntryID(form);
    const bool newFolderOpens = !newID.empty() && RDO->GetFolderFromID(newID) != nullptr;
    // Opened the way the cleanup itself decides that the old folder is gone.
    const bool oldFolderGone =
        form.hhEntryID.empty() || GetFolder(form, form.hhEntryID, "") == nullptr;
    if (newFolderOpens) result.newFolderEntryID = newID;
    result.outcome = newFolderOpens && !SameEntryID(newID, form.hhEntryID) && oldFolderGone
                         ? Outcome::completed
                         : Outcome::incomplete;
  }
  return result;
}

}  // namespace oa::nowindow
