// The lines of a dry run's planned changes.
#include <string>

#include "mailbox/run_context.h"

namespace oa::mailbox {
namespace {

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

std::string Items(int64_t items) {
  return items < 0 ? "an unknown number of items" : std::to_string(items) + " items";
}

}  // namespace

std::string DryRunLine(const PlannedChange& c) {
  const std::string would = "Dry run: would ";
  using Kind = PlannedChange::Kind;
  switch (c.kind) {
    case Kind::createAgentFolder:
      return would + "create the agent-info folder " + Quoted(c.name);
    case Kind::deleteExtraAgentMessage:
      return would + "delete extra agent message created " + c.created + " (entry ID " + c.entryID +
             ")";
    case Kind::writeHHEntryID:
      return would + "write HHEntryID " + c.entryID + " to the agent message";
    case Kind::deleteFolder:
      return would + "delete folder " + Quoted(c.name) + " (entry ID " + c.entryID + ", " +
             Items(c.items) + ")";
    case Kind::setAsideFolder:
      if (c.name.empty()) {
        return would +
               "stop if the store refuses the delete: every set-aside name from \"Handhelds -1\" "
               "to \"Handhelds -100\" is taken";
      }
      return would + "rename it to " + Quoted(c.name) +
             " if the store refuses the delete, then empty it item by item (" + Items(c.items) +
             ") and delete it";
    case Kind::createHandhelds:
      return would + "create the top-level folder " + Quoted(c.name);
    case Kind::reuseHandhelds:
      return would + "reuse the top-level folder " + Quoted(c.name) + " (entry ID " + c.entryID +
             ")";
    case Kind::pointAgent:
      return would + "point the agent at the new Handhelds folder" +
             (c.entryID.empty() ? std::string() : " (HHEntryID " + c.entryID + ")");
  }
  return would + "change the mailbox";
}

}  // namespace oa::mailbox
