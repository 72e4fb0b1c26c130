#include "handhelds/folder_lookup.h"

#include <vector>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "handhelds/guarded.h"
#include "mailbox/agent_message.h"
#include "mailbox/basRDO.h"
#include "mailbox/confirmed_open.h"
#include "mailbox/model/const_mapi.h"

namespace oa::handhelds {

using mailbox::GetMessage;
using mailbox::PlannedChange;
using mailbox::RDOFolder;
using mailbox::RunContext;
using mailbox::RunOutcome;
namespace ConstMAPI = mailbox::ConstMAPI;

namespace {

constexpr const char* kPublicPath = "Public Folders\\All Public Folders";
constexpr const char* kPublicPrefix = "Public Folders\\All Public Folders\\";
constexpr const char* kPathError = "GetFolderFromPath error: ";

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> elements;
  if (path.empty()) return elements;
  std::string::size_type start = 0;
  for (;;) {
    const auto sep = path.find('\\', start);
    elements.push_back(path.substr(start, sep == std::string::npos ? sep : sep - start));
    if (sep == std::string::npos) return elements;
    start = sep + 1;
  }
}

bool SameName(const std::string& a, const std::string& b) {
  return text::Fold(text::TrimBlanks(a)) == text::Fold(text::TrimBlanks(b));
}

// The first child of `parent` whose name matches `element`, in collection order.
std::shared_ptr<RDOFolder> FindChild(RDOFolder& parent, const std::string& element) {
  auto children = parent.Folders();
  const int32_t count = On(children, [](auto& f) { return f.Count(); });
  for (int32_t i = 1; i <= count; ++i) {
    auto child = children->Item(i);
    if (child && SameName(child->Name(), element)) return child;
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<RDOFolder> GetHandheldsFolder(RunContext& run) {
  ErrScope scope;
  RunOutcome& outcome = run.outcome;
  std::shared_ptr<RDOFolder> result;
  if (!run.hhEntryID.empty()) {
    result = GetFolder(run, run.hhEntryID, "");
    if (!result) {
      run.WriteLog("Unable to get Handhelds folder using EntryID " + run.hhEntryID);
    } else {
      run.WriteLog("Retrieved Handhelds folder using EntryID " + run.hhEntryID);
      outcome.folderFound = RunOutcome::Found::byEntryID;
    }
    if (run.Ended()) return nullptr;
  }
  if (!result && !run.hhPath.empty()) {
    auto found = GetFolderFromPath(run, run.hhPath);
    if (run.Ended()) return nullptr;
    if (!found) {
      run.WriteLog("Unable to get Handhelds folder at " + run.hhPath);
      return nullptr;
    }
    run.WriteLog("Retrieved Handhelds folder using path " + run.hhPath);
    if (run.Ended()) return nullptr;
    outcome.folderFound = RunOutcome::Found::byPath;
    Err().Clear();
    const std::string foundID = found->EntryID();
    if (!Err().Pending()) run.hhEntryID = foundID;
    if (run.dryRun) {
      run.Plan({.kind = PlannedChange::Kind::writeHHEntryID, .entryID = run.hhEntryID});
      return run.Ended() ? nullptr : found;
    }
    // Repairs the agent message so that the next lookup succeeds by entry ID; not checked.
    auto message = Quietly([&] { return GetMessage(run, run.agentMessageEntryID, ""); });
    if (run.Ended()) return nullptr;
    if (message) {
      const int32_t tag = Quietly([&] {
        return mailbox::GetNamedPropTag(message.get(), oa::Variant::String("HHEntryID"),
                                        ConstMAPI::PT_STRING8, "");
      });
      Err().Clear();
      message->SetFields(tag, oa::Variant::String(run.hhEntryID));
      message->Save();
      outcome.entryIDRepaired = !Err().Pending();
    }
    result = found;
  }
  return result;
}

std::shared_ptr<RDOFolder> GetFolder(RunContext& run, const std::string& EntryID,
                                     const std::string& StoreID) {
  ErrScope scope;
  auto session = run.RDO;
  if (!session) return nullptr;
  return mailbox::OpenConfirmed<RDOFolder>(
             *session, EntryID, StoreID, run.folderStoreIDCache,
             [&](const std::string& storeID) { return session->GetFolderFromID(EntryID, storeID); })
      .object;
}

std::shared_ptr<RDOFolder> GetFolderFromPath(RunContext& run, std::string strFolderPath) {
  ErrScope scope;
  std::string path = std::move(strFolderPath);
  const auto first = path.find_first_not_of('\\');
  path.erase(0, first == std::string::npos ? path.size() : first);
  while (!path.empty() && path.back() == '\\') path.pop_back();

  auto session = run.RDO;
  std::shared_ptr<RDOFolder> top;
  if (path.find(kPublicPath) != std::string::npos) {
    top = On(session, [](auto& s) {
      return s.GetDefaultFolder(ConstMAPI::olPublicFoldersAllPublicFolders);
    });
    if (!top) {
      run.WriteLog(std::string(kPathError) + "Public Folder Infostore not available!");
      return nullptr;
    }
    const std::string prefix = kPublicPrefix;
    for (auto at = path.find(prefix); at != std::string::npos; at = path.find(prefix, at))
      path.erase(at, prefix.size());
  } else {
    auto stores = On(session, [](auto& s) { return s.Stores(); });
    auto store = On(stores, [](auto& s) { return s.DefaultStore(); });
    const std::string storeName = On(store, [](auto& s) { return s.Name(); });
    const auto nameEnd =
        storeName.empty() ? std::string::npos : text::FindEndIgnoringCase(path, storeName);
    if (nameEnd == std::string::npos) {
      run.WriteLog(std::string(kPathError) + "unable to identify root folder!");
      return nullptr;
    }
    // The separator after the store's name goes with it.
    path.erase(0, nameEnd + text::CharLength(path, nameEnd));
    top = store->IPMRootFolder();
  }

  const std::vector<std::string> elements = SplitPath(path);
  Err().Clear();
  std::shared_ptr<RDOFolder> current = top;
  std::shared_ptr<RDOFolder> found;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    found = current ? FindChild(*current, elements[i]) : nullptr;
    if (!found) {
      run.WriteLog(kPathError + elements[i] + " folder could not be found in specified location!");
      return nullptr;
    }
    if (i + 1 < elements.size()) {
      current = found;
      found.reset();
    }
  }
  const bool lastMatches = found && !elements.empty() && SameName(found->Name(), elements.back());
  if (!found || Err().Pending() || !lastMatches) {
    run.WriteLog(std::string(kPathError) + "unable to locate " + path + " in specified location.");
    return nullptr;
  }
  return found;
}

}  // namespace oa::handhelds
