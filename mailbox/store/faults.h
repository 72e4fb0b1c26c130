// Declared faults: chosen calls of the object model fail (or answer as told) so that failure
// handling can be rehearsed against a real store file. Kept in the file's faults table with
// their counts, so they run on across processes.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mailbox/store/entry_id.h"
#include "mailbox/store/sqlite_db.h"

namespace oa::store {

// What a declared fault aims at: a store (by its row), a folder or a message.
struct FaultTarget {
  ObjectKind kind;
  int64_t id;
};

struct FaultOutcome {
  enum class Effect { Pass, None, Applied, Silent };
  Effect effect = Effect::Pass;
  int32_t error = 0;
  std::string description;
  std::optional<bool> result;

  bool Passes() const { return effect == Effect::Pass && !result; }
  bool Blocks() const { return effect == Effect::None; }
  bool Silent() const { return effect == Effect::Silent; }
  // Throws the declared error for effect "none" (before the work) and "applied" (after it).
  void ThrowIfBlocks() const;
  void ThrowIfApplied() const;
};

// Every operation a fault may name.
const std::set<std::string>& FaultOps();

class Faults {
 public:
  // Remembers which operations have faults at all, so that other calls cost nothing.
  void Load(Db& db);
  // Counts the call against every matching fault and gives the outcome of the first that
  // applies. A call matches a fault without target, or one whose target is among `targets`.
  // Runs inside the caller's transaction when one is open, else in its own.
  FaultOutcome Check(Db& db, const std::string& op, const std::vector<FaultTarget>& targets);
  bool empty() const { return ops_.empty(); }

 private:
  std::set<std::string> ops_;
};

}  // namespace oa::store
