// The embedded message store: a mail server kept in one SQLite file.
#pragma once

#include <memory>

#include "mailbox/model/rdo.h"

namespace oa::store {

// Registers the session class "OAHelper.RDOSession" that logs on to store files.
void RegisterEmbeddedSessionClass();

// A session on store files, without going through the registry: the store's own session with
// the file's declared faults in front of it.
std::shared_ptr<mailbox::RDOSession> NewEmbeddedSession();

// The store's own session, blind to declared faults.
std::shared_ptr<mailbox::RDOSession> NewPlainEmbeddedSession();

}  // namespace oa::store
