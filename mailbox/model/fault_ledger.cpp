#include "mailbox/model/fault_ledger.h"

#include <array>
#include <cctype>

#include "base/text_fold.h"

namespace oa::mailbox {
namespace {

constexpr std::array<std::string_view, kFaultOpCount> kNames = {
    "Session.LogonExchangeMailbox",
    "Session.Stores",
    "Session.GetDefaultFolder",
    "Session.GetFolderFromID",
    "Session.GetMessageFromID",
    "Stores.DefaultStore",
    "Stores.FindExchangePublicFoldersStore",
    "Store.RootFolder",
    "Store.IPMRootFolder",
    "Store.CompareEntryIDs",
    "Folder.Delete",
    "Folder.Save",
    "Folder.Name",
    "Folder.Fields",
    "Folder.GetIDsFromNames",
    "Folder.Folders",
    "Folder.Items",
    "Folder.Parent",
    "Folders.Count",
    "Folders.Item",
    "Folders.Add",
    "Items.Count",
    "Items.Item",
    "Items.GetFirst",
    "Items.MAPITable",
    "Mail.Delete",
    "Mail.Save",
    "Mail.Fields",
    "Mail.GetIDsFromNames",
    "Mail.CreationTime",
    "Mail.MessageClass",
    "Mail.Subject",
};

}  // namespace

std::string_view FaultOpName(FaultOp op) {
  return kNames[static_cast<size_t>(op)];
}

std::optional<FaultOp> FaultOpByName(std::string_view name) {
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) return static_cast<FaultOp>(i);
  }
  return std::nullopt;
}

void MemoryFaultLedger::Add(FaultRule rule) {
  std::lock_guard lock(mu_);
  rules_.push_back(std::move(rule));
  seen_.push_back(0);
}

int64_t MemoryFaultLedger::Seen(size_t index) {
  std::lock_guard lock(mu_);
  return index < seen_.size() ? seen_[index] : 0;
}

bool MemoryFaultLedger::Declares(FaultOp op) {
  std::lock_guard lock(mu_);
  for (const FaultRule& r : rules_) {
    if (r.op == op) return true;
  }
  return false;
}

FaultOutcome MemoryFaultLedger::Check(FaultOp op, const std::vector<std::string>& entryIDs) {
  std::lock_guard lock(mu_);
  FaultOutcome outcome;
  bool decided = false;
  for (size_t i = 0; i < rules_.size(); ++i) {
    const FaultRule& r = rules_[i];
    if (r.op != op) continue;
    if (!r.target.empty()) {
      bool match = false;
      for (const std::string& id : entryIDs) match |= oa::text::EqualIgnoringCase(id, r.target);
      if (!match) continue;
    }
    if (FaultSpent(seen_[i], r.after, r.times)) continue;
    const bool due = FaultDue(seen_[i], r.after);
    ++seen_[i];
    if (!due || decided) continue;
    decided = true;
    outcome.error = r.error;
    outcome.description = r.description;
    outcome.effect = r.result ? FaultOutcome::Effect::Pass : r.effect;
    outcome.result = r.result;
  }
  return outcome;
}

}  // namespace oa::mailbox
