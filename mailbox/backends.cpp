#include "mailbox/backends.h"

#include <cctype>

#include "base/mapi_error.h"
#include "mailbox/ews/ews_session.h"
#ifdef OA_HAVE_GRAPH
#include "mailbox/graph/graph_session.h"
#endif
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/session_registry.h"
#include "mailbox/model/wrappers.h"
#include "mailbox/store/embedded_store.h"
#include "mailbox/store/store_location.h"

namespace oa::mailbox {

namespace {

// A service URL contains "/" as a path does; it always names a server.
bool IsServiceUrl(const std::string& server) {
  std::string lower = server.substr(0, 8);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.rfind("https://", 0) == 0 || lower.rfind("http://", 0) == 0;
}

// What the sessions of one registration share: its options, the EWS logon settings with the
// password asked once, and the waiter.
struct Registration {
  Registration(BackendOptions o, std::shared_ptr<Waiter> w)
      : ews(std::make_shared<oa::ews::LogonSettings>(std::move(o.ews))),
        graph(std::move(o.graph)),
        storeDirectory(std::move(o.storeDirectory)),
        waiter(std::move(w)) {}
  const std::shared_ptr<oa::ews::LogonSettings> ews;
  const oa::graph::GraphOptions graph;
  const std::string storeDirectory;
  const std::shared_ptr<Waiter> waiter;
};

// Delegates every call to the backend chosen by the last logon; before the first, a call fails
// as on a session not logged on.
class RoutingSession : public SessionWrapper {
 public:
  RoutingSession(SessionFactory embedded, std::shared_ptr<const Registration> registration)
      : SessionWrapper(nullptr),
        embedded_(std::move(embedded)),
        registration_(std::move(registration)) {}

  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override {
    Logon(mailbox, server, false);
  }
  void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                    const std::string& server) override {
    Logon(mailbox, server, true);
  }

 private:
  void Logon(const std::string& mailbox, const std::string& server, bool readOnly) {
    const bool graph = oa::graph::GraphServerTenant(server).has_value();
    const Kind kind = graph ? Kind::Graph
                      : !IsServiceUrl(server) &&
                              oa::store::LocateStore(server, registration_->storeDirectory).isStore
                          ? Kind::Store
                          : Kind::Ews;
    const bool store = kind == Kind::Store;
    if (!target() || kind != innerKind_) {
      if (target() && target()->LoggedOn()) target()->Logoff();
      const Registration& r = *registration_;
      Retarget(store   ? (embedded_ ? embedded_() : nullptr)
               : graph ? NewGraph(r.graph, r.waiter)
                       : oa::ews::NewEwsSession(r.ews, r.waiter));
      innerKind_ = kind;
    }
    if (!target() && graph) {
      Err().Raise(ConstMAPI::MAPI_E_LOGON_FAILED, "Exchange Online (" + server +
                                                      ") cannot be reached: this build has no "
                                                      "Microsoft Graph support.");
      return;
    }
    if (!target() && store) {
      Err().Raise(ConstMAPI::REGDB_E_CLASSNOTREG, "The embedded store is not available.");
      return;
    }
    if (!target()) {
      Err().Raise(ConstMAPI::MAPI_E_LOGON_FAILED,
                  "Exchange server " + server +
                      " cannot be reached: this build has no Exchange Web Services support "
                      "and opens only store files.");
      return;
    }
    if (readOnly)
      target()->LogonExchangeMailboxReadOnly(mailbox, server);
    else
      target()->LogonExchangeMailbox(mailbox, server);
  }

  enum class Kind { Store, Ews, Graph };
  static std::shared_ptr<RDOSession> NewGraph(const oa::graph::GraphOptions& options,
                                              std::shared_ptr<Waiter> waiter) {
#ifdef OA_HAVE_GRAPH
    return oa::graph::NewGraphSession(options, std::move(waiter));
#else
    (void)options;
    (void)waiter;
    return nullptr;
#endif
  }

  SessionFactory embedded_;
  const std::shared_ptr<const Registration> registration_;
  Kind innerKind_ = Kind::Store;
};

}  // namespace

void RegisterSessionClasses(BackendOptions options, std::shared_ptr<Waiter> waiter) {
  auto registration = std::make_shared<const Registration>(std::move(options), std::move(waiter));
  oa::store::RegisterEmbeddedSessionClass(registration->storeDirectory);
  SessionFactory embedded = FindSessionClass(kSessionProgID);
  RegisterSessionClass(kSessionProgID, [embedded, registration] {
    return std::make_shared<RoutingSession>(embedded, registration);
  });
}

}  // namespace oa::mailbox
