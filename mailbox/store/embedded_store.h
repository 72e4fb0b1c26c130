// The embedded message store: a mail server kept in one SQLite file.
#pragma once

#include <memory>
#include <string>

#include "mailbox/model/rdo.h"
#include "mailbox/store/file_options.h"

namespace oa::store {

// Their logons take a server text that contains a "/" or ends with ".oastore" as the store
// file's path, and a bare NAME as NAME.oastore in `storeDirectory` (none: a bare name is no store
// file).

// Registers the session class "OAHelper.RDOSession" that logs on to store files.
void RegisterEmbeddedSessionClass(const std::string& storeDirectory = {});

// A session on store files, without going through the registry: the store's own session with
// the file's declared faults in front of it.
std::shared_ptr<mailbox::RDOSession> NewEmbeddedSession(const std::string& storeDirectory = {},
                                                        const StoreFileOptions& fileOptions = {});

// The store's own session, blind to declared faults.
std::shared_ptr<mailbox::RDOSession> NewPlainEmbeddedSession(
    const std::string& storeDirectory = {});

}  // namespace oa::store
