// Which server texts name a store file, and where that file is.
#pragma once

#include <string>

namespace oa::store {

struct StoreLocation {
  // True when the server text names a store file (existing or not); any other text names a
  // mail server reached over the network.
  bool isStore = false;
  // The store file's path; for a NAME without a file, where NAME.oastore was looked for.
  std::string path;
};

// A server text names a store file when it contains a "/" or ends with ".oastore" (a path), or
// when NAME.oastore exists in `directory`, where the program keeps its store files (from its
// configuration); with `directory` empty a bare name is never a store file.
StoreLocation LocateStore(const std::string& server, const std::string& directory);

}  // namespace oa::store
