// The dry run's guard under the cleanup: a step that forgets the dry run tries to write, every
// write is refused and recorded, and the store is the same afterwards.
#include <gtest/gtest.h>

#include "handhelds/cleanup_hh.h"
#include "mailbox/model/read_only_session.h"
#include "tests/mailbox/store_fixture.h"

namespace oa::testing {

using handhelds::CleanupHH;
using mailbox::RunOutcome;

namespace {

class ReadOnlySession : public StoreRun {};

TEST_F(ReadOnlySession, DryRunSessionStopsAStepThatForgetsTheDryRun) {
  Import(GuardedDump());
  const Json before = Export();
  host.run().dryRun = true;
  ASSERT_TRUE(Connect("jdoe"));
  // The cleanup as if it did not know about the dry run: every write it tries is refused.
  host.run().dryRun = false;
  CleanupHH(host.run());
  const RunOutcome& outcome = host.outcome();
  EXPECT_FALSE(outcome.oldDeleted);
  EXPECT_FALSE(outcome.oldRenamed);
  std::vector<std::string> ops;
  for (const mailbox::RefusedCall& c : host.run().refusedCalls->All()) {
    ops.push_back(c.operation);
    EXPECT_EQ(c.target, EntryIDOf("hh"));
  }
  EXPECT_EQ(ops, (std::vector<std::string>{"Folder.Delete", "Folder.Name", "Folder.Save"}));
  EXPECT_EQ(host.results.back(), "failed to rename existing folder");
  EXPECT_EQ(Export(), before);
}

}  // namespace
}  // namespace oa::testing
