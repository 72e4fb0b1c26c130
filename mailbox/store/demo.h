// The demonstration server of `oa-store demo`.
#pragma once

#include <nlohmann/json.hpp>

namespace oa::store {

// Mailboxes with agent-info folders and agent messages, Handhelds folders of various sizes,
// one agent message with only a path, one Handhelds folder under the public folders, one whose
// deletion fails (a declared fault) so that a run renames and empties it, and one mailbox
// without agent data.
nlohmann::json DemoDump();

}  // namespace oa::store
