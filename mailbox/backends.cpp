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

// Delegates every call to the backend chosen by the last logon; before the first, a call fails
// as on a session not logged on.
class RoutingSession : public SessionWrapper {
 public:
  RoutingSession(SessionFactory embedded, std::shared_ptr<Waiter> waiter)
      : SessionWrapper(nullptr), embedded_(std::move(embedded)), waiter_(std::move(waiter)) {}

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
                      : !IsServiceUrl(server) && oa::store::LocateStore(server).isStore
                          ? Kind::Store
                          : Kind::Ews;
    const bool store = kind == Kind::Store;
    if (!target() || kind != innerKind_) {
      if (target() && target()->LoggedOn()) target()->Logoff();
      Retarget(store   ? (embedded_ ? embedded_() : nullptr)
               : graph ? NewGraph(waiter_)
                       : oa::ews::NewEwsSession(waiter_));
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
  static std::shared_ptr<RDOSession> NewGraph(std::shared_ptr<Waiter> waiter) {
#ifdef OA_HAVE_GRAPH
    return oa::graph::NewGraphSession(std::move(waiter));
#else
    (void)waiter;
    return nullptr;
#endif
  }

  SessionFactory embedded_;
  std::shared_ptr<Waiter> waiter_;
  Kind innerKind_ = Kind::Store;
};

}  // namespace

void RegisterSessionClasses(std::shared_ptr<Waiter> waiter) {
  oa::store::RegisterEmbeddedSessionClass();
  SessionFactory embedded = FindSessionClass(kSessionProgID);
  RegisterSessionClass(kSessionProgID, [embedded, waiter] {
    return std::make_shared<RoutingSession>(embedded, waiter);
  });
}

void ConfigureBackends(const BackendOptions& options) {
  oa::ews::SetEwsOptions(options.ews);
#ifdef OA_HAVE_GRAPH
  oa::graph::SetGraphOptions(options.graph);
#endif
  oa::store::SetStoreDirectory(options.storeDirectory);
}

}  // namespace oa::mailbox
