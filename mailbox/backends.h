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
#include "mailbox/remote/waiter.h"

namespace oa::mailbox {

// What a call of a remote backend does while it waits out a busy service (remote/waiter.h):
// events processed, and the run's Cancel asked, as the window or the run without one says.
using remote::Waiter;
// The usual waiter: three functions the program sets once it has a window or its signals, e.g.
//   auto waiter = std::make_shared<WaitHooks>();
//   RegisterSessionClasses(options, waiter);
//   waiter->SetWhileWaiting([] { DoEvents(); });
//   waiter->SetWaitCancelCheck([&run] { return run.StopRequested(); });
//   waiter->SetRequestCancelCheck([&run] { return run.StopRequested(); });  // any thread
using remote::WaitHooks;

// What the backends are told at start-up; they read no configuration of their own.
struct BackendOptions {
  oa::ews::EwsOptions ews;
  oa::graph::GraphOptions graph;
  // Where a bare server NAME is looked for as NAME.oastore.
  std::string storeDirectory;
};

// Registers the routing session class under "OAHelper.RDOSession". Call once at start-up
// instead of oa::store::RegisterEmbeddedSessionClass(). Every session it creates logs on with
// `options`, and its EWS and Graph sessions wait through `waiter` (none: waits only sleep). The
// sessions of one registration share what a logon learns for the next: the EWS password asked
// for is asked once, whichever session or thread logs on first.
void RegisterSessionClasses(BackendOptions options, std::shared_ptr<Waiter> waiter = nullptr);

}  // namespace oa::mailbox
