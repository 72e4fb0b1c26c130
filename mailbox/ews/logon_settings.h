// What the EWS sessions of one registration log on with, shared by them.
#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "mailbox/ews/ews_options.h"

namespace oa::ews {

// The parallel jobs of a batch log on at once, from several threads, each with a session of its
// own; a password asked for at the first logon that needs it is kept here for the logons that
// follow, so that the user is asked once.
class LogonSettings {
 public:
  explicit LogonSettings(EwsOptions options) : options_(std::move(options)) {}
  LogonSettings(const LogonSettings&) = delete;
  LogonSettings& operator=(const LogonSettings&) = delete;

  // The settings for one logon to `host`. Without a password, the one the system keeps for the
  // host is taken; else a user set without a password and without a netrc file to find it in is
  // asked for it once, and the answer is kept for the logons that follow. Safe from any thread.
  EwsOptions ForLogon(const std::string& host);

 private:
  std::mutex mutex_;
  EwsOptions options_;
};

}  // namespace oa::ews
