#include "mailbox/model/session_registry.h"

#include <map>
#include <mutex>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {
namespace {

struct Registry {
  std::mutex mu;
  std::map<std::string, SessionFactory> classes;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

}  // namespace

void RegisterSessionClass(const std::string& progID, SessionFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mu);
  r.classes[progID] = std::move(factory);
}

void UnregisterSessionClass(const std::string& progID) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mu);
  r.classes.erase(progID);
}

SessionFactory FindSessionClass(const std::string& progID) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mu);
  auto it = r.classes.find(progID);
  return it == r.classes.end() ? SessionFactory() : it->second;
}

std::shared_ptr<RDOSession> CreateObject(const std::string& progID) {
  SessionFactory factory;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    auto it = r.classes.find(progID);
    if (it != r.classes.end()) factory = it->second;
  }
  std::shared_ptr<RDOSession> session = factory ? factory() : nullptr;
  if (!session) {
    Err().Raise(ConstMAPI::REGDB_E_CLASSNOTREG,
                "Class not registered: no session class is registered as " + progID);
  }
  return session;
}

}  // namespace oa::mailbox
