// The folder tree of a store file with item counts and entry IDs, for `oa-store tree`.
#pragma once

#include <ostream>
#include <string>

namespace oa::store {

// Every store, or only the mailbox given (alias or address, without regard to case). Reads
// the file directly, so declared faults neither apply nor count.
bool PrintTree(const std::string& storePath, const std::string& mailbox, std::ostream& out,
               std::string* error);

}  // namespace oa::store
