// Declared faults: chosen calls of the object model fail, or answer as told, so that failure
// handling can be rehearsed against any backend. A ledger answers, call by call, whether a fault
// applies and how; FaultSession (fault_session.h) asks it before it lets a call through.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oa::mailbox {

// Every operation a fault may name ("Object.Operation").
enum class FaultOp : uint8_t {
  SessionLogonExchangeMailbox,
  SessionStores,
  SessionGetDefaultFolder,
  SessionGetFolderFromID,
  SessionGetMessageFromID,
  StoresDefaultStore,
  StoresFindExchangePublicFoldersStore,
  StoreRootFolder,
  StoreIPMRootFolder,
  StoreCompareEntryIDs,
  FolderDelete,
  FolderSave,
  FolderName,
  FolderFields,
  FolderGetIDsFromNames,
  FolderFolders,
  FolderItems,
  FolderParent,
  FoldersCount,
  FoldersItem,
  FoldersAdd,
  ItemsCount,
  ItemsItem,
  ItemsGetFirst,
  ItemsMAPITable,
  MailDelete,
  MailSave,
  MailFields,
  MailGetIDsFromNames,
  MailCreationTime,
  MailMessageClass,
  MailSubject,
};
inline constexpr size_t kFaultOpCount = static_cast<size_t>(FaultOp::MailSubject) + 1;

// "Folder.Delete" for FaultOp::FolderDelete, and back; nullopt for a name no operation has.
std::string_view FaultOpName(FaultOp op);
std::optional<FaultOp> FaultOpByName(std::string_view name);

struct FaultOutcome {
  // Pass: no fault applies. None: the call fails and changes nothing. Applied: it does its work
  // and then fails. Silent: it reports success and changes nothing.
  enum class Effect { Pass, None, Applied, Silent };
  Effect effect = Effect::Pass;
  int32_t error = 0;
  std::string description;
  // A Boolean call's forced answer (with effect Pass).
  std::optional<bool> result;
};

class FaultLedger {
 public:
  virtual ~FaultLedger() = default;
  // Whether any fault names the operation at all; when not, calls go through unasked.
  virtual bool Declares(FaultOp op) = 0;
  // Counts the call against every fault of `op` that has no target or whose target is among
  // `entryIDs` (the objects the call acts on), and gives the outcome of the first that applies.
  // Never throws; a ledger that cannot answer lets the call pass.
  virtual FaultOutcome Check(FaultOp op, const std::vector<std::string>& entryIDs) = 0;
};

// How every ledger counts a matching call against one fault: `after` calls pass untouched, the
// next `times` (absent: all) are affected, then the fault is spent.
inline bool FaultSpent(int64_t seen, int64_t after, std::optional<int64_t> times) {
  return times && seen >= after + *times;
}
inline bool FaultDue(int64_t seen, int64_t after) {
  return seen >= after;
}

// A fault kept in memory, aimed at an object by its entry ID.
struct FaultRule {
  FaultOp op = FaultOp::FolderDelete;
  // Entry-ID text of the object; empty: any object.
  std::string target;
  FaultOutcome::Effect effect = FaultOutcome::Effect::None;
  int32_t error = static_cast<int32_t>(0x80004005);
  std::string description = "Unspecified error";
  std::optional<bool> result;
  int64_t after = 0;
  std::optional<int64_t> times;
};

// A ledger of rules held in memory, for any backend; counts live as long as the ledger.
class MemoryFaultLedger : public FaultLedger {
 public:
  void Add(FaultRule rule);
  // How many calls rule number `index` (in the order added) has counted.
  int64_t Seen(size_t index);

  bool Declares(FaultOp op) override;
  FaultOutcome Check(FaultOp op, const std::vector<std::string>& entryIDs) override;

 private:
  std::mutex mu_;
  std::vector<FaultRule> rules_;
  std::vector<int64_t> seen_;
};

}  // namespace oa::mailbox
