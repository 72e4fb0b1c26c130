// Which server texts name a store file, and where that file is.
#pragma once

#include <string>

namespace oa::store {

// The directory in which a bare NAME is looked for as NAME.oastore, set by the program at
// start-up from its configuration; empty (the start) when bare names are never store files.
void SetStoreDirectory(const std::string& directory);
std::string StoreDirectory();

struct StoreLocation {
  // True when the server text names a store file (existing or not); any other text names a
  // mail server reached over the network.
  bool isStore = false;
  // The store file's path; for a NAME without a file, where NAME.oastore was looked for.
  std::string path;
};

// A server text names a store file when it contains a "/" or ends with ".oastore" (a path), or
// when NAME.oastore exists in the store directory.
StoreLocation LocateStore(const std::string& server);

}  // namespace oa::store
