// The store file's declared faults as a fault ledger: the faults table, its targets resolved to
// the objects' entry IDs, and its counts kept in the file, so that they run on across sessions
// and processes.
#pragma once

#include <bitset>
#include <memory>
#include <string>
#include <vector>

#include "mailbox/model/fault_ledger.h"
#include "mailbox/store/connection.h"
#include "mailbox/store/entry_id.h"

namespace oa::store {

// What a declared fault aims at, as the faults table keeps it: a store (by its row), a folder or
// a message.
struct FaultTarget {
  ObjectKind kind;
  int64_t id;
};

class StoreFaultLedger : public mailbox::FaultLedger {
 public:
  // The ledger of the logon's store file, sharing its connection; nullptr when the file
  // declares no faults.
  static std::shared_ptr<StoreFaultLedger> Open(ConnPtr conn);

  bool Declares(mailbox::FaultOp op) override { return ops_.test(static_cast<size_t>(op)); }
  mailbox::FaultOutcome Check(mailbox::FaultOp op,
                              const std::vector<std::string>& entryIDs) override;

 private:
  StoreFaultLedger(ConnPtr conn, std::bitset<mailbox::kFaultOpCount> ops)
      : conn_(std::move(conn)), ops_(ops) {}
  std::vector<FaultTarget> Resolve(const std::vector<std::string>& entryIDs) const;

  ConnPtr conn_;
  std::bitset<mailbox::kFaultOpCount> ops_;
};

}  // namespace oa::store
