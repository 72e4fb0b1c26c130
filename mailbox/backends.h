// The session class the program creates as "OAHelper.RDOSession": at each logon it picks the
// backend by the server text. A text that names a store file opens the embedded store; any
// text "graph" or "graph:TENANT" is Exchange Online through Microsoft Graph; any other text is an
// Exchange server reached through Exchange Web Services, in a build that has them.
#pragma once

#include <memory>
#include <string>

#include "mailbox/ews/ews_options.h"
#include "mailbox/graph/graph_options.h"
#include "mailbox/model/rdo.h"

namespace oa::mailbox {

// Registers the routing session class under "OAHelper.RDOSession" (and the embedded store's
// class behind it). Call once at start-up instead of oa::store::RegisterEmbeddedSessionClass().
void RegisterSessionClasses();

// What the backends are told at start-up; they read no configuration of their own.
struct BackendOptions {
  oa::ews::EwsOptions ews;
  // Its waits are given the EWS backend's wait hooks here.
  oa::graph::GraphOptions graph;
  // Where a bare server NAME is looked for as NAME.oastore.
  std::string storeDirectory;
};

// Gives the backends their settings for the logons that follow.
void ConfigureBackends(const BackendOptions& options);

}  // namespace oa::mailbox
