#include "handhelds/folder_lookup.h"

#include <vector>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "console/form.h"
#include "handhelds/guarded.h"
#include "mailbox/agent_message.h"
#include "mailbox/basGlobals.h"
#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"

namespace oa {

using handhelds::On;
using handhelds::Quietly;
using mailbox::Err;
using mailbox::ErrScope;
using mailbox::RDOFolder;
namespace ConstMAPI = mailbox::ConstMAPI;

namespace {

constexpr const char* kPublicPath = "Public Folders\\All Public Folders";
constexpr const char* kPublicPrefix = "Public Folders\\All Public Folders\\";
constexpr const char* kPathError = "GetFolderFromPath error: ";

enum class Check { Confirmed, Denied, Failed };

// Whether the folder's store confirms that the opened folder is the one asked for.
Check ConfirmFolder(RDOFolder& folder, const std::string& EntryID) {
  Err().Clear();
  const std::string openedID = folder.EntryID();
  auto store = folder.Store();
  const bool same = On(store, [&](auto& s) { return s.CompareEntryIDs(openedID, EntryID); });
  if (Err().Pending()) return Check::Failed;
  return same ? Check::Confirmed : Check::Denied;
}

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

std::shared_ptr<RDOFolder> GetHandheldsFolder(Form& form) {
  ErrScope scope;
  std::shared_ptr<RDOFolder> result;
  if (!form.hhEntryID.empty()) {
    result = GetFolder(form, form.hhEntryID, "");
    if (!result) {
      form.WriteLog("Unable to get Handhelds folder using EntryID " + form.hhEntryID);
    } else {
      form.WriteLog("Retrieved Handhelds folder using EntryID " + form.hhEntryID);
    }
  }
  if (!result && !form.hhPath.empty()) {
    auto found = GetFolderFromPath(form, form.hhPath);
    if (!found) {
      form.WriteLog("Unable to get Handhelds folder at " + form.hhPath);
      return nullptr;
    }
    form.WriteLog("Retrieved Handhelds folder using path " + form.hhPath);
    Err().Clear();
    const std::string foundID = found->EntryID();
    if (!Err().Pending()) form.hhEntryID = foundID;
    // Repairs the agent message so that the next lookup succeeds by entry ID; not checked.
    auto message = Quietly([&] { return GetMessage(form, form.agentMessageEntryID, ""); });
    if (message) {
      const int32_t tag = Quietly([&] {
        return basRDO::GetNamedPropTag(message.get(), mailbox::Variant::String("HHEntryID"),
                                       ConstMAPI::PT_STRING8, "");
      });
      message->SetFields(tag, mailbox::Variant::String(form.hhEntryID));
      message->Save();
    }
    result = found;
  }
  return result;
}

std::shared_ptr<RDOFolder> GetFolder(Form& form, const std::string& EntryID,
                                     const std::string& StoreID) {
  ErrScope scope;
  auto session = RDO;
  if (!session) return nullptr;
  auto folder = StoreID.empty() ? session->GetFolderFromID(EntryID)
                                : session->GetFolderFromID(EntryID, StoreID);
  if (!folder || ConfirmFolder(*folder, EntryID) != Check::Confirmed) {
    if (form.folderStoreIDCache.empty()) {
      auto stores = session->Stores();
      auto publicStore = On(stores, [](auto& s) { return s.FindExchangePublicFoldersStore(); });
      form.folderStoreIDCache = On(publicStore, [](auto& s) { return s.EntryID(); });
    }
    // A failed second open keeps what the first one gave.
    if (auto retry = session->GetFolderFromID(EntryID, form.folderStoreIDCache)) folder = retry;
  }
  // A folder whose check cannot be carried out was opened by its own entry ID: accepted.
  if (folder && ConfirmFolder(*folder, EntryID) == Check::Denied) return nullptr;
  return folder;
}

std::shared_ptr<RDOFolder> GetFolderFromPath(Form& form, std::string strFolderPath) {
  ErrScope scope;
  std::string path = std::move(strFolderPath);
  const auto first = path.find_first_not_of('\\');
  path.erase(0, first == std::string::npos ? path.size() : first);
  while (!path.empty() && path.back() == '\\') path.pop_back();

  auto session = RDO;
  std::shared_ptr<RDOFolder> top;
  if (path.find(kPublicPath) != std::string::npos) {
    top = On(session, [](auto& s) {
      return s.GetDefaultFolder(ConstMAPI::olPublicFoldersAllPublicFolders);
    });
    if (!top) {
      form.WriteLog(std::string(kPathError) + "Public Folder Infostore not available!");
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
      form.WriteLog(std::string(kPathError) + "unable to identify root folder!");
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
      form.WriteLog(kPathError + elements[i] + " folder could not be found in specified location!");
      return nullptr;
    }
    if (i + 1 < elements.size()) {
      current = found;
      found.reset();
    }
  }
  const bool lastMatches = found && !elements.empty() && SameName(found->Name(), elements.back());
  if (!found || Err().Pending() || !lastMatches) {
    form.WriteLog(std::string(kPathError) + "unable to locate " + path + " in specified location.");
    return nullptr;
  }
  return found;
}

}  // namespace oa
