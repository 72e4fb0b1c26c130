// The session's shared state: ID conversions, folders and messages read with their properties.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/mapi_error.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;
using oa::mailbox::Err;

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

bool Core::Alive() {
  if (alive_) return true;
  Err().Raise(MAPI_E_END_OF_SESSION, "The session has logged off.");
  return false;
}

std::vector<std::shared_ptr<DeletionListener>> Core::LiveListeners() {
  std::vector<std::shared_ptr<DeletionListener>> live;
  for (auto& w : listeners_)
    if (auto l = w.lock()) live.push_back(std::move(l));
  listeners_.assign(live.begin(), live.end());
  return live;
}

void Core::ItemDeleted(const std::string& id) {
  for (auto& l : LiveListeners()) l->ItemDeleted(id);
}

std::vector<std::optional<std::string>> Core::HexFromGraph(const std::vector<std::string>& ids) {
  std::vector<std::string> unknown;
  for (const auto& id : ids)
    if (!hexById_.count(id) && std::find(unknown.begin(), unknown.end(), id) == unknown.end())
      unknown.push_back(id);
  std::string failure;
  // The service takes at most 1000 IDs a call.
  for (size_t start = 0; start < unknown.size(); start += 1000) {
    json input = json::array();
    for (size_t i = start; i < std::min(unknown.size(), start + 1000); ++i)
      input.push_back(unknown[i]);
    json body = {{"inputIds", input}, {"sourceIdType", "restId"}, {"targetIdType", "entryId"}};
    auto r = Call("POST", User("/translateExchangeIds"), &body);
    if (!r) return std::vector<std::optional<std::string>>(ids.size());
    for (const json& v : r->value("value", json::array())) {
      if (!v.is_object()) continue;
      const std::string source = Text(v, "sourceId");
      auto bytes = Base64Decode(Text(v, "targetId"), true);
      if (bytes && !bytes->empty()) {
        const std::string hex = HexEncode(*bytes);
        hexById_[source] = hex;
        idByHex_[hex] = source;
      } else if (v.contains("errorDetails") && v["errorDetails"].is_object()) {
        failure = v["errorDetails"].value("message", "");
      }
    }
  }
  std::vector<std::optional<std::string>> out;
  for (const auto& id : ids) {
    auto it = hexById_.find(id);
    out.push_back(it == hexById_.end() ? std::nullopt : std::optional(it->second));
  }
  if (std::find(out.begin(), out.end(), std::nullopt) != out.end())
    Err().Raise(MAPI_E_NOT_FOUND,
                failure.empty() ? "The service did not convert the ID to an entry ID." : failure);
  return out;
}

std::optional<std::string> Core::HexFromGraph(const std::string& id) {
  if (auto it = hexById_.find(id); it != hexById_.end()) return it->second;
  return HexFromGraph(std::vector<std::string>{id}).front();
}

std::optional<std::string> Core::GraphFromHex(const std::string& entryID) {
  auto hex = CheckedHex(entryID);
  if (!hex) return std::nullopt;
  if (auto it = idByHex_.find(*hex); it != idByHex_.end()) return it->second;
  json body = {{"inputIds", {UrlTokenEncode(*HexDecode(*hex))}},
               {"sourceIdType", "entryId"},
               {"targetIdType", "restId"}};
  auto r = Call("POST", User("/translateExchangeIds"), &body);
  if (!r) return std::nullopt;
  for (const json& v : r->value("value", json::array())) {
    const std::string id = v.is_object() ? Text(v, "targetId") : "";
    if (id.empty()) {
      const std::string why =
          v.is_object() && v.contains("errorDetails") ? v["errorDetails"].value("message", "") : "";
      Err().Raise(MAPI_E_NOT_FOUND, why.empty() ? "The entry ID names no object." : why);
      return std::nullopt;
    }
    hexById_[id] = *hex;
    idByHex_[*hex] = id;
    return id;
  }
  Err().Raise(MAPI_E_NOT_FOUND, "The entry ID names no object.");
  return std::nullopt;
}

std::string Core::ExpandOf(const std::vector<int32_t>& tags) {
  std::string filter;
  for (int32_t tag : tags) {
    const std::string id = ExtendedPropertyId(tag);
    if (id.empty()) continue;
    filter += (filter.empty() ? "id eq '" : " or id eq '") + id + "'";
  }
  if (filter.empty()) return "";
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
  return d;
}

MailData Core::ReadMail(const json& j) {
  MailData d;
  d.id = Text(j, "id");
  if (j.contains("subject")) d.subject = Text(j, "subject");
  if (j.contains("createdDateTime")) d.created = ParseDateTime(Text(j, "createdDateTime"));
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
  FolderData d = ReadFolder(*r);
  if (d.id.empty()) {
    Err().Raise(MAPI_E_CALL_FAILED, "The service did not give the folder's ID.");
    return std::nullopt;
  }
  d.props = ReadProps(*r, tags);
  return d;
}

std::optional<MailData> Core::GetMail(const std::string& id, const std::vector<int32_t>& tags) {
  auto r = Call("GET", User("/messages/" + UrlEncode(id) + "?" + MailQuery(tags)));
  if (!r) return std::nullopt;
  MailData d = ReadMail(*r);
  if (d.id.empty()) {
    Err().Raise(MAPI_E_CALL_FAILED, "The service did not give the message's ID.");
    return std::nullopt;
  }
  for (auto& [tag, v] : ReadProps(*r, tags)) d.props[tag] = v;
  return d;
}

}  // namespace oa::graph
