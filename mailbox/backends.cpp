#include "mailbox/backends.h"

#include <cctype>

#include "base/mapi_error.h"
#include "mailbox/ews/ews_session.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/session_registry.h"
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

// Delegates every call to the backend chosen by the last logon.
class RoutingSession : public RDOSession {
 public:
  explicit RoutingSession(SessionFactory embedded) : embedded_(std::move(embedded)) {}

  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override {
    const bool store = !IsServiceUrl(server) && oa::store::LocateStore(server).isStore;
    if (!inner_ || store != innerIsStore_) {
      if (inner_ && inner_->LoggedOn()) inner_->Logoff();
      inner_ = store ? (embedded_ ? embedded_() : nullptr) : oa::ews::NewEwsSession();
      innerIsStore_ = store;
    }
    if (!inner_ && store) {
      Err().Raise(ConstMAPI::REGDB_E_CLASSNOTREG, "The embedded store is not available.");
      return;
    }
    if (!inner_) {
      Err().Raise(ConstMAPI::MAPI_E_LOGON_FAILED,
                  "Exchange server " + server +
                      " cannot be reached: this build has no Exchange Web Services support "
                      "and opens only store files.");
      return;
    }
    inner_->LogonExchangeMailbox(mailbox, server);
  }
  bool LoggedOn() override { return inner_ && inner_->LoggedOn(); }
  void Logoff() override {
    if (inner_) inner_->Logoff();
  }
  std::shared_ptr<RDOStores> Stores() override { return Ready() ? inner_->Stores() : nullptr; }
  std::shared_ptr<RDOFolder> GetDefaultFolder(int32_t folderType) override {
    return Ready() ? inner_->GetDefaultFolder(folderType) : nullptr;
  }
  std::shared_ptr<RDOMail> GetMessageFromID(const std::string& entryID,
                                            const std::string& storeID) override {
    return Ready() ? inner_->GetMessageFromID(entryID, storeID) : nullptr;
  }
  std::shared_ptr<RDOFolder> GetFolderFromID(const std::string& entryID,
                                             const std::string& storeID) override {
    return Ready() ? inner_->GetFolderFromID(entryID, storeID) : nullptr;
  }

 private:
  bool Ready() {
    if (inner_) return true;
    Err().Raise(ConstMAPI::MAPI_E_NOT_INITIALIZED, "The session is not logged on.");
    return false;
  }

  SessionFactory embedded_;
  std::shared_ptr<RDOSession> inner_;
  bool innerIsStore_ = false;
};

}  // namespace

void RegisterSessionClasses() {
  oa::store::RegisterEmbeddedSessionClass();
  SessionFactory embedded = FindSessionClass(kSessionProgID);
  RegisterSessionClass(kSessionProgID,
                       [embedded] { return std::make_shared<RoutingSession>(embedded); });
}

void ConfigureBackends(const BackendOptions& options) {
  oa::ews::SetEwsOptions(options.ews);
  oa::store::SetStoreDirectory(options.storeDirectory);
}

}  // namespace oa::mailbox
