// The embedded message store: a mail server kept in one SQLite file.
#pragma once

#include <memory>

#include "mailbox/model/rdo.h"

namespace oa::store {

// Registers the session class "OAHelper.RDOSession" that logs on to store files.
void RegisterEmbeddedSessionClass();

// A session on store files, without going through the registry.
std::shared_ptr<mailbox::RDOSession> NewEmbeddedSession();

}  // namespace oa::store
