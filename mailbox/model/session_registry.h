// Session classes by ProgID, the way the mailbox library is found on a desktop: a program asks
// for "OAHelper.RDOSession" and gets whatever class is registered under that name, or nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "mailbox/model/rdo.h"

namespace oa::mailbox {

inline constexpr const char* kSessionProgID = "OAHelper.RDOSession";

using SessionFactory = std::function<std::shared_ptr<RDOSession>()>;

void RegisterSessionClass(const std::string& progID, SessionFactory factory);
void UnregisterSessionClass(const std::string& progID);
// The factory registered under progID, or an empty function.
SessionFactory FindSessionClass(const std::string& progID);

// Creates an object of the class registered under progID. Without such a class, or when the
// factory gives nothing: nullptr, and REGDB_E_CLASSNOTREG raised on Err().
std::shared_ptr<RDOSession> CreateObject(const std::string& progID);

}  // namespace oa::mailbox
