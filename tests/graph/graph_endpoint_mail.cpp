// Folders and messages of the test server's Graph operations.
#include <ctime>
#include <regex>

#include "base/date.h"
#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/graph/client.h"
#include "mailbox/graph/codec.h"
#include "mailbox/model/const_mapi.h"
#include "tests/graph/graph_endpoint.h"
#include "tests/graph/graph_endpoint_text.h"

namespace oa::graph::testing {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using nlohmann::json;

namespace {

std::string IsoTime(const Variant& v) {
  if (v.type() != Variant::Type::Date) return "";
  const std::time_t t = static_cast<std::time_t>(UnixMillisFromDate(v.AsDate()) / 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

int32_t NamedTag(MAPIProp& obj, const std::string& id) {
  static const std::regex kNamed(R"(String \{([0-9A-Fa-f-]{36})\} Name (.+))");
  std::smatch m;
  if (!std::regex_match(id, m, kNamed)) return 0;
  const int32_t pid = obj.GetIDsFromNames("{" + m[1].str() + "}", m[2].str());
  return pid ? (pid | PT_STRING8) : 0;
}

bool IsClassId(const std::string& id) {
  return id == "String 0x001A" || id == "String 0x1A" || id == "String 0x1a";
}

// The extended properties asked for that the object has.
json Extended(MAPIProp& obj, const std::vector<std::string>& ids, RDOStore* store) {
  json list = json::array();
  for (const std::string& id : ids) {
    ErrScope keep;
    if (id == "Binary 0x0FFF") {
      // PR_ENTRYID: the store's entry ID of the object; Graph names it in its short form.
      auto bytes = HexDecode(obj.EntryID());
      if (bytes) list.push_back({{"id", "Binary 0xfff"}, {"value", Base64Encode(*bytes)}});
    } else if (id == "Binary 0x0FFB" && store) {
      auto bytes = HexDecode(store->EntryID());
      if (bytes) list.push_back({{"id", "Binary 0xffb"}, {"value", Base64Encode(*bytes)}});
    } else if (IsClassId(id)) {
      const Variant v = obj.Fields(PR_MESSAGE_CLASS);
      // Graph names it in its short form.
      if (v.type() == Variant::Type::String)
        list.push_back({{"id", "String 0x1a"}, {"value", v.AsString()}});
    } else if (const int32_t tag = NamedTag(obj, id)) {
      const Variant v = obj.Fields(tag);
      if (v.type() == Variant::Type::String && !v.AsString().empty())
        list.push_back({{"id", id}, {"value", v.AsString()}});
    }
  }
  return list;
}

// Page of a list with $top and $skip, and the link to the next one.
json Page(const GraphCall& c, json all) {
  const size_t top = Param(c, "$top").empty() ? 10 : std::stoul(Param(c, "$top"));
  const size_t skip = Param(c, "$skip").empty() ? 0 : std::stoul(Param(c, "$skip"));
  json value = json::array();
  for (size_t i = skip; i < all.size() && i < skip + top; ++i) value.push_back(all[i]);
  json out = {{"value", value}};
  if (skip + top < all.size()) {
    std::string q;
    for (const auto& [k, v] : c.params)
      if (k != "$skip") q += (q.empty() ? "" : "&") + k + "=" + UrlEncode(v);
    out["@odata.nextLink"] = c.base + c.path + "?" + q + "&$skip=" + std::to_string(skip + top);
  }
  return out;
}

}  // namespace

namespace {

std::shared_ptr<RDOFolder> OpenFolder(RDOSession& s, const std::string& id) {
  auto stores = s.Stores();
  auto store = stores ? stores->DefaultStore() : nullptr;
  if (!store) return nullptr;
  if (id == "root") return store->RootFolder();
  if (id == "msgfolderroot") return store->IPMRootFolder();
  auto hex = HexOfRestId(id);
  if (!hex) {
    Err().Raise(MAPI_E_INVALID_ENTRYID, "Id is malformed.");
    return nullptr;
  }
  return s.GetFolderFromID(*hex, "");
}

json FolderJson(RDOFolder& f, const std::vector<std::string>& expanded) {
  ErrScope keep;
  std::string parent;
  if (auto p = f.Parent()) parent = RestId(p->EntryID());
  auto items = f.Items();
  auto store = f.Store();
  json j = {{"id", RestId(f.EntryID())}, {"displayName", f.Name()},
            {"parentFolderId", parent},  {"totalItemCount", items ? items->Count() : 0},
            {"unreadItemCount", 0},      {"isHidden", false}};
  json ext = Extended(f, expanded, store.get());
  if (!ext.empty()) j["singleValueExtendedProperties"] = ext;
  return j;
}

json MessageJson(RDOMail& m, const std::vector<std::string>& expanded) {
  ErrScope keep;
  auto store = m.Store();
  json j = {{"@odata.etag", "W/\"CQAAABYAAAA\""},
            {"id", RestId(m.EntryID())},
            {"createdDateTime", IsoTime(m.CreationTime())},
            {"subject", m.Subject()}};
  json ext = Extended(m, expanded, store.get());
  if (!ext.empty()) j["singleValueExtendedProperties"] = ext;
  return j;
}

}  // namespace

json GraphEndpoint::Folder(Ctx& x, const std::string& id, const std::vector<std::string>& rest) {
  GraphCall& c = x.c;
  auto folder = OpenFolder(*x.s, id);
  if (!folder) return x.FailFromErr();
  json body = json::parse(c.body.empty() ? "{}" : c.body, nullptr, false);
  if (rest.empty() && c.method == "GET") {
    c.operation = "folder";
    return FolderJson(*folder, x.expanded);
  }
  if (rest.empty() && c.method == "PATCH") {
    c.operation = "patchFolder";
    if (body.contains("displayName")) folder->SetName(body.value("displayName", ""));
    if (!folder->Save()) return x.FailFromErr();
    return FolderJson(*folder, {});
  }
  if (rest.size() == 1 && rest[0] == "permanentDelete" && c.method == "POST") {
    c.operation = "deleteFolder";
    Err().Clear();
    folder->Delete();
    if (Err().Pending()) return x.FailFromErr();
    c.status = 204;
    return {};
  }
  if (rest.size() == 1 && rest[0] == "childFolders" && c.method == "POST") {
    c.operation = "createFolder";
    auto folders = folder->Folders();
    auto made = folders ? folders->Add(body.value("displayName", "")) : nullptr;
    if (!made) return x.FailFromErr();
    c.status = 201;
    return FolderJson(*made, {});
  }
  if (rest.size() == 1 && rest[0] == "childFolders" && c.method == "GET") {
    c.operation = "childFolders";
    // The folders outside the visible tree show only with includeHiddenFolders.
    const bool hidden = Param(c, "includeHiddenFolders") == "true";
    std::string ipm;
    if (id == "root") {
      ErrScope keep;
      auto top = OpenFolder(*x.s, "msgfolderroot");
      ipm = top ? top->EntryID() : "";
    }
    const auto lits = Literals(Param(c, "$filter"));
    auto folders = folder->Folders();
    if (!folders) return x.FailFromErr();
    json all = json::array();
    const int32_t n = folders->Count();
    for (int32_t i = 1; i <= n; ++i) {
      auto f = folders->Item(i);
      if (!f) continue;
      if (id == "root" && !hidden && f->EntryID() != ipm) continue;
      if (!lits.empty() && oa::text::Fold(f->Name()) != oa::text::Fold(lits[0])) continue;
      all.push_back(FolderJson(*f, x.expanded));
    }
    return Page(c, all);
  }
  if (rest.size() == 1 && rest[0] == "messages" && c.method == "GET") {
    c.operation = "messages";
    return Messages(x, folder);
  }
  return x.Fail(400, "BadRequest", "Unsupported request.");
}

json GraphEndpoint::Messages(Ctx& x, const std::shared_ptr<RDOFolder>& folder) {
  const std::string filter = Param(x.c, "$filter");
  static const std::regex kSubject(R"(subject eq '((?:[^']|'')*)')");
  static const std::regex kClass(R"(ep/value eq '((?:[^']|'')*)')");
  std::smatch m;
  std::optional<std::string> subject, cls;
  if (std::regex_search(filter, m, kSubject)) subject = Literals("'" + m[1].str() + "'").front();
  if (std::regex_search(filter, m, kClass)) cls = Literals("'" + m[1].str() + "'").front();
  if (!filter.empty() && !subject && !cls)
    return x.Fail(400, "ErrorInvalidUrlQueryFilter", "The filter is not supported.");
  auto items = folder->Items();
  if (!items) return x.FailFromErr();
  json all = json::array();
  const int32_t n = items->Count();
  const size_t skip = Param(x.c, "$skip").empty() ? 0 : std::stoul(Param(x.c, "$skip"));
  const size_t top = Param(x.c, "$top").empty() ? 10 : std::stoul(Param(x.c, "$top"));
  for (int32_t i = 1; i <= n; ++i) {
    // Without a filter only the page is read; with one every message is looked at.
    if (filter.empty() && (static_cast<size_t>(i) <= skip || static_cast<size_t>(i) > skip + top)) {
      all.push_back(nullptr);
      continue;
    }
    auto mail = items->Item(i);
    if (!mail) continue;
    if (subject && oa::text::Fold(mail->Subject()) != oa::text::Fold(*subject)) continue;
    if (cls && oa::text::Fold(mail->MessageClass()) != oa::text::Fold(*cls)) continue;
    all.push_back(MessageJson(*mail, x.expanded));
  }
  return Page(x.c, all);
}

json GraphEndpoint::Message(Ctx& x, const std::string& id, const std::vector<std::string>& rest) {
  GraphCall& c = x.c;
  auto hex = HexOfRestId(id);
  if (!hex) return x.Fail(400, "ErrorInvalidIdMalformed", "Id is malformed.");
  auto mail = x.s->GetMessageFromID(*hex, "");
  if (!mail) return x.FailFromErr();
  if (rest.empty() && c.method == "GET") {
    c.operation = "message";
    return MessageJson(*mail, x.expanded);
  }
  if (rest.empty() && c.method == "PATCH") {
    c.operation = "patchMessage";
    json body = json::parse(c.body, nullptr, false);
    if (body.is_discarded()) return x.Fail(400, "BadRequest", "The body is no JSON.");
    for (const json& p : body.value("singleValueExtendedProperties", json::array())) {
      const int32_t tag = NamedTag(*mail, p.value("id", ""));
      if (!tag) return x.Fail(400, "ErrorInvalidExtendedProperty", "The property is not valid.");
      mail->SetFields(tag, Variant::String(p.value("value", "")));
    }
    if (!mail->Save()) return x.FailFromErr();
    return MessageJson(*mail, {});
  }
  if (rest.size() == 1 && rest[0] == "permanentDelete" && c.method == "POST") {
    c.operation = "deleteMessage";
    Err().Clear();
    mail->Delete(dfHardDelete);
    if (Err().Pending()) return x.FailFromErr();
    c.status = 204;
    return {};
  }
  return x.Fail(400, "BadRequest", "Unsupported request.");
}

}  // namespace oa::graph::testing
