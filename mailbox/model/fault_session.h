// A session that puts declared faults in front of another session: every call of the session and
// of every object it hands out asks a fault ledger first, names the objects it acts on by entry
// ID, and fails, answers or goes through as the ledger says. The wrapped session never knows.
//
// What a call's faults aim at: the object itself; for Folders.* the parent folder, for Items.*
// the folder; for Session.LogonExchangeMailbox, Session.Stores and Stores.DefaultStore the
// mailbox store; for Session.GetDefaultFolder and Stores.FindExchangePublicFoldersStore the
// object found; for Session.Get*FromID the entry ID asked for; for Store.CompareEntryIDs both
// entry IDs compared.
#pragma once

#include <functional>
#include <memory>

#include "mailbox/model/fault_ledger.h"
#include "mailbox/model/rdo.h"

namespace oa::mailbox {

// The ledger for the logon just made, asked after each successful logon; nullptr when no
// faults are declared, and the session then hands out the inner session's own objects.
using FaultLedgerSource = std::function<std::shared_ptr<FaultLedger>()>;

std::shared_ptr<RDOSession> NewFaultSession(std::shared_ptr<RDOSession> inner,
                                            FaultLedgerSource ledgerFor);

}  // namespace oa::mailbox
