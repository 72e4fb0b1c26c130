// How a session's calls treat its store file.
#pragma once

namespace oa::store {

inline constexpr int kDefaultBusyTimeoutMs = 5000;

struct StoreFileOptions {
  // How long a call waits for a file another process is writing.
  int busyTimeoutMs = kDefaultBusyTimeoutMs;
  // Commits that also survive a power cut (synchronous=FULL: one fsync per call) instead of
  // only the death of a process (NORMAL, the default); for measuring what that costs.
  bool syncEveryCommit = false;
};

}  // namespace oa::store
