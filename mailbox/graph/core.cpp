// The session's shared state: the entry IDs read, folders and messages read with their properties.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <set>

#include "base/mapi_error.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;

namespace {

// Graph may name a property "String 0x1A" or with a lower-case GUID.
std::string NormalizedPropertyId(const std::string& id) {
  std::string s = id;
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const size_t hex = s.find(" 0x");
  if (hex != std::string::npos && s.find('{') == std::string::npos) {
    const unsigned long n = std::strtoul(s.c_str() + hex + 3, nullptr, 16);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%lx", n);
    s = s.substr(0, hex + 1) + buf;
  }
  return s;
}

std::map<int32_t, Variant> ReadProps(const json& j, const std::vector<int32_t>& tags) {
  std::map<int32_t, Variant> out;
  for (int32_t tag : tags) out[tag] = Variant();
  auto it = j.find("singleValueExtendedProperties");
  if (it == j.end() || !it->is_array()) return out;
  for (const json& p : *it) {
    if (!p.is_object() || !p["id"].is_string() || !p["value"].is_string()) continue;
    const std::string id = NormalizedPropertyId(p["id"].get<std::string>());
    for (int32_t tag : tags) {
      if (NormalizedPropertyId(ExtendedPropertyId(tag)) == id)
        out[tag] = ValueFromText(p["value"].get<std::string>(), tag);
    }
  }
  return out;
}

// PR_ENTRYID as entry-ID text, when the answer has it.
std::optional<std::string> EntryIDOf(const json& j) {
  const Variant v = ReadProps(j, {PR_ENTRYID})[PR_ENTRYID];
  if (!v.IsArray() || v.AsArray().empty()) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (const Variant& b : v.AsArray()) bytes.push_back(b.AsByte());
  return HexEncode(bytes);
}

std::string Text(const json& j, const char* key) {
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : "";
}

}  // namespace

std::optional<std::string> CheckedHex(const std::string& entryID) {
  auto bytes = HexDecode(entryID);
  if (!bytes || bytes->empty()) {
    Err().Raise(MAPI_E_INVALID_ENTRYID, "The entry ID is not valid.");
    return std::nullopt;
  }
  return HexEncode(*bytes);
}

int32_t IdsFromNames(const std::string& guid, const std::string& name) {
  const int32_t id = NamedPropId(guid.empty() ? PS_PUBLIC_STRINGS : guid, name);
  if (!id) {
    Err().Raise(MAPI_E_INVALID_PARAMETER, "The property set or name is not valid.");
    return 0;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(id) << 16);
}

bool StageField(std::map<int32_t, Variant>& pending, int32_t tag, const Variant& value) {
  if (ExtendedPropertyId(tag).empty() || !ValueText(value, tag)) {
    Err().Raise(MAPI_E_INVALID_PARAMETER, "The value does not fit the property's type.");
    return false;
  }
  pending[tag] = value;
  return true;
}

std::string Core::User(const std::string& rest) const {
  return "/users/" + UrlEncode(userId_) + rest;
}

Core::Core(std::unique_ptr<Client> client, std::string userId, std::string displayName)
    : SessionCore(
          kDeleteGroup,
          [this](const std::vector<std::string>& ids, const std::string&, std::vector<bool>& gone) {
            SendDeleteBatch(ids, gone);
          },
          [this](const std::string& id) { ItemDeleted(id); }),
      client_(std::move(client)),
      userId_(std::move(userId)),
      name_(std::move(displayName)) {}

void Core::ItemDeleted(const std::string& id) {
  for (auto& l : queue_.Listeners()) l->ItemDeleted(id);
}

void Core::Learn(const std::string& graphId, const std::optional<std::string>& entryID) {
  if (!graphId.empty() && entryID && !entryID->empty()) idByHex_[*entryID] = graphId;
}

FolderData Core::TakeFolder(const json& j) {
  FolderData d = ReadFolder(j);
  d.readAt = generation_;
  Learn(d.id, d.entryID);
  if (!d.id.empty() && d.parentId && !d.parentId->empty()) folderParent_[d.id] = *d.parentId;
  if (!d.id.empty() && d.name && d.parentId && d.total && d.entryID) readFolders_[d.id] = d;
  return d;
}

bool Core::KnownOutside(const std::string& mailId, const std::string& folderId) const {
  auto up = [this](const std::string& id) -> const std::string* {
    auto it = folderParent_.find(id);
    return it == folderParent_.end() ? nullptr : &it->second;
  };
  std::set<std::string> ancestors;
  // Bounded: a parent chain the service gave may loop.
  constexpr int kMaxDepth = 1000;
  const std::string* a = up(folderId);
  for (int i = 0; a && i < kMaxDepth; ++i, a = up(*a)) ancestors.insert(*a);
  auto place = mailParent_.find(mailId);
  if (place == mailParent_.end()) return false;
  const std::string* p = &place->second;
  for (int i = 0; p && i < kMaxDepth; ++i, p = up(*p)) {
    if (*p == folderId) return false;
    if (ancestors.count(*p)) return true;
  }
  return false;
}

void Core::DeleteFolder(const std::string& id) {
  SendQueuedDeletes();
  std::map<std::string, MailData> kept;
  for (const auto& [mailId, mail] : readMails_)
    if (KnownOutside(mailId, id)) kept.emplace(mailId, mail);
  Changed();
  const oa::ErrObject before = Err();
  Err().Clear();
  client_->Call("POST", User("/mailFolders/" + UrlEncode(id) + "/permanentDelete"));
  if (Err().Pending()) return;
  Err() = before;
  readMails_ = std::move(kept);
  FolderNotFound(id, "The folder was deleted by this run.");
}

MailData Core::TakeMail(const json& j, const std::string& listedFrom) {
  MailData d = ReadMail(j);
  if (!d.id.empty() && !listedFrom.empty()) mailParent_[d.id] = listedFrom;
  Learn(d.id, d.entryID);
  if (!d.id.empty() && d.subject && d.created && d.entryID) readMails_[d.id] = d;
  return d;
}

std::optional<FolderData> Core::ReadFolderOf(const std::string& graphId) const {
  auto it = readFolders_.find(graphId);
  if (it == readFolders_.end()) return std::nullopt;
  return it->second;
}

std::optional<MailData> Core::ReadMailOf(const std::string& graphId) const {
  auto it = readMails_.find(graphId);
  if (it == readMails_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Core::GraphIdOf(const std::string& entryID, Kind kind) {
  auto hex = CheckedHex(entryID);
  if (!hex) return std::nullopt;
  if (auto it = idByHex_.find(*hex); it != idByHex_.end()) return it->second;
  // Nothing has changed since the lookup last looked: the answer is the same.
  const std::string key = (kind == Kind::Folder ? "folder " : "message ") + *hex;
  if (auto it = lookupFailed_.find(key); it != lookupFailed_.end()) {
    Err().Raise(MAPI_E_NOT_FOUND, it->second);
    return std::nullopt;
  }
  auto found = FindInFolders(*hex, kind);
  if (!found && Err().Number() == MAPI_E_NOT_FOUND) lookupFailed_[key] = Err().Description();
  return found;
}

// Graph documents $filter on an extended property's value for numeric and string properties
// only (Microsoft Graph reference, "Get singleValueLegacyExtendedProperty"), not for binary ones
// such as PR_ENTRYID: the folders are listed level by level, the top visible folder's children
// first, each listing with the entry IDs of what it lists, until one matches.
std::optional<std::string> Core::FindInFolders(const std::string& hex, Kind kind) {
  std::deque<std::string> parents{"msgfolderroot", "root"};
  std::set<std::string> seen{"msgfolderroot", "root"};
  if (!ipmRootId_.empty()) seen.insert(ipmRootId_);
  int requests = 0;
  // Lists every page of a URL; true when the entry ID turned up or the lookup has to stop.
  auto list = [&](std::string url, bool folders, bool* failed) {
    while (!url.empty()) {
      if (requests == kMaxLookupRequests) {
        Err().Raise(MAPI_E_NOT_FOUND,
                    "The entry ID " + hex + " was not found in the first " +
                        std::to_string(kMaxLookupRequests) +
                        " listings of the mailbox's folders (the most a lookup reads).");
        *failed = true;
        return true;
      }
      ++requests;
      auto r = Call("GET", url);
      if (!r) {
        *failed = true;
        return true;
      }
      for (const json& v : r->value("value", json::array())) {
        if (!v.is_object()) continue;
        if (folders) {
          FolderData d = TakeFolder(v);
          if (d.id.empty() || !seen.insert(d.id).second) continue;
          parents.push_back(d.id);
          if (kind == Kind::Folder && d.entryID == hex) return true;
        } else if (TakeMail(v).entryID == hex) {
          return true;
        }
      }
      url = r->value("@odata.nextLink", "");
    }
    return false;
  };
  while (!parents.empty()) {
    const std::string parent = parents.front();
    parents.pop_front();
    bool failed = false;
    const std::string at = User("/mailFolders/" + UrlEncode(parent));
    if (kind == Kind::Message &&
        list(at + "/messages?$top=1000&$select=id" + ExpandOf({}), false, &failed)) {
      if (failed) return std::nullopt;
      return idByHex_[hex];
    }
    // Hidden folders too: the agent's folder below the root is one.
    if (list(at +
                 "/childFolders?includeHiddenFolders=true&$top=100&$select=id,displayName,"
                 "parentFolderId,totalItemCount" +
                 ExpandOf({}),
             true, &failed)) {
      if (failed) return std::nullopt;
      return idByHex_[hex];
    }
  }
  Err().Raise(MAPI_E_NOT_FOUND, std::string(kind == Kind::Folder ? "No folder" : "No message") +
                                    " of the mailbox has the entry ID " + hex + ".");
  return std::nullopt;
}

std::string Core::ExpandOf(const std::vector<int32_t>& tags) {
  std::string filter = "id eq '" + ExtendedPropertyId(PR_ENTRYID) + "'";
  for (int32_t tag : tags) {
    if (tag == PR_ENTRYID) continue;
    const std::string id = ExtendedPropertyId(tag);
    if (id.empty()) continue;
    filter += " or id eq '" + id + "'";
  }
  return "&$expand=" + UrlEncode("singleValueExtendedProperties($filter=" + filter + ")");
}

std::string Core::MailQuery(const std::vector<int32_t>& tags) {
  std::vector<int32_t> all{PR_MESSAGE_CLASS};
  for (int32_t t : tags)
    if (t != PR_MESSAGE_CLASS) all.push_back(t);
  return "$select=id,subject,createdDateTime" + ExpandOf(all);
}

FolderData Core::ReadFolder(const json& j) {
  FolderData d;
  d.id = Text(j, "id");
  if (j.contains("displayName") && j["displayName"].is_string()) d.name = Text(j, "displayName");
  if (j.contains("parentFolderId")) d.parentId = Text(j, "parentFolderId");
  if (j.contains("totalItemCount") && j["totalItemCount"].is_number_integer())
    d.total = j["totalItemCount"].get<int32_t>();
  d.entryID = EntryIDOf(j);
  return d;
}

MailData Core::ReadMail(const json& j) {
  MailData d;
  d.id = Text(j, "id");
  if (j.contains("subject")) d.subject = Text(j, "subject");
  if (j.contains("createdDateTime")) d.created = ParseDateTime(Text(j, "createdDateTime"));
  d.entryID = EntryIDOf(j);
  auto props = ReadProps(j, {PR_MESSAGE_CLASS});
  // Exchange gives every message a class; one not told is the default.
  d.itemClass = props[PR_MESSAGE_CLASS].type() == Variant::Type::String
                    ? props[PR_MESSAGE_CLASS].AsString()
                    : std::string("IPM.Note");
  for (auto& [tag, v] : ReadProps(j, NamedStringTags())) {
    if (j.contains("singleValueExtendedProperties") && !v.IsEmpty()) d.props[tag] = v;
  }
  return d;
}

std::optional<FolderData> Core::GetFolder(const std::string& idOrWellKnown,
                                          const std::vector<int32_t>& tags) {
  auto r =
      Call("GET", User("/mailFolders/" + UrlEncode(idOrWellKnown) +
                       "?$select=id,displayName,parentFolderId,totalItemCount" + ExpandOf(tags)));
  if (!r) return std::nullopt;
  FolderData d = TakeFolder(*r);
  if (d.id.empty()) {
    Err().Raise(MAPI_E_CALL_FAILED, "The service did not give the folder's ID.");
    return std::nullopt;
  }
  d.props = ReadProps(*r, tags);
  return d;
}

std::optional<MailData> Core::GetMail(const std::string& id, const std::vector<int32_t>& tags) {
  // Every named property the session knows comes along: a later Fields needs no request.
  std::vector<int32_t> all = tags;
  for (int32_t t : NamedStringTags())
    if (std::find(all.begin(), all.end(), t) == all.end()) all.push_back(t);
  auto r = Call("GET", User("/messages/" + UrlEncode(id) + "?" + MailQuery(all)));
  if (!r) return std::nullopt;
  MailData d = TakeMail(*r);
  if (d.id.empty()) {
    Err().Raise(MAPI_E_CALL_FAILED, "The service did not give the message's ID.");
    return std::nullopt;
  }
  for (auto& [tag, v] : ReadProps(*r, all)) d.props[tag] = v;
  if (d.subject && d.created && d.entryID) readMails_[d.id] = d;
  return d;
}

}  // namespace oa::graph
