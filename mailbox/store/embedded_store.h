// The embedded message store: a mail server kept in one SQLite file.
#pragma once

namespace oa::store {

// Registers the session class "OAHelper.RDOSession" that logs on to store files.
void RegisterEmbeddedSessionClass();

}  // namespace oa::store
