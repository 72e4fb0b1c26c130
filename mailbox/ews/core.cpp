#include "mailbox/ews/core.h"

#include <algorithm>

#include "mailbox/const_mapi.h"
#include "mailbox/ews/objects.h"
#include "mailbox/mapi_error.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;
using oa::mailbox::Err;

namespace {

std::string Key(const std::string& id, bool isPublic) {
  return (isPublic ? "P:" : "M:") + id;
}

void AddFieldUri(pugi::xml_node props, const char* uri) {
  props.append_child("t:FieldURI").append_attribute("FieldURI") = uri;
}

FolderRef RefOf(pugi::xml_node idNode, bool isPublic) {
  FolderRef r;
  r.id = Attr(idNode, "Id");
  r.changeKey = Attr(idNode, "ChangeKey");
  r.isPublic = isPublic;
  return r;
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

Core::Core(std::unique_ptr<Client> client, std::string smtp, std::string displayName)
    : client_(std::move(client)), smtp_(std::move(smtp)), displayName_(std::move(displayName)) {}

bool Core::Alive() {
  if (alive_) return true;
  Err().Raise(MAPI_E_END_OF_SESSION, "The session has logged off.");
  return false;
}

std::unique_ptr<Request> Core::NewRequest(const std::string& operation) {
  return client_->NewRequest(operation);
}

std::optional<Response> Core::Send(const Request& request) {
  if (!Alive()) return std::nullopt;
  return client_->Call(request);
}

std::optional<Response> Core::SendOne(const Request& request) {
  auto r = Send(request);
  if (!r || !FirstOk(*r)) return std::nullopt;
  return r;
}

void Core::AppendFolderId(pugi::xml_node parent, const FolderRef& ref) {
  if (!ref.id.empty()) {
    auto id = parent.append_child("t:FolderId");
    id.append_attribute("Id") = ref.id.c_str();
    if (!ref.changeKey.empty()) id.append_attribute("ChangeKey") = ref.changeKey.c_str();
    return;
  }
  auto d = parent.append_child("t:DistinguishedFolderId");
  d.append_attribute("Id") = ref.distinguished.c_str();
  // Delegate access names the mailbox; impersonation acts as it already.
  if (!ref.isPublic && client_->options().impersonate.empty())
    AddText(d.append_child("t:Mailbox"), "t:EmailAddress", smtp_);
}

std::optional<std::string> Core::HexFromEws(const std::string& ewsId, bool isPublic) {
  auto all = HexFromEws(std::vector<std::string>{ewsId}, isPublic);
  return all.front();
}

std::vector<std::optional<std::string>> Core::HexFromEws(const std::vector<std::string>& ewsIds,
                                                         bool isPublic) {
  std::vector<std::optional<std::string>> out(ewsIds.size());
  std::vector<size_t> missing;
  for (size_t i = 0; i < ewsIds.size(); ++i) {
    auto it = hexByEws_.find(Key(ewsIds[i], isPublic));
    if (it != hexByEws_.end()) {
      out[i] = it->second;
    } else {
      missing.push_back(i);
    }
  }
  if (missing.empty()) return out;
  auto req = NewRequest("ConvertId");
  req->op().append_attribute("DestinationFormat") = "HexEntryId";
  auto sources = req->op().append_child("m:SourceIds");
  for (size_t i : missing) {
    if (isPublic) {
      auto s = sources.append_child("t:AlternatePublicFolderId");
      s.append_attribute("Format") = "EwsId";
      s.append_attribute("FolderId") = ewsIds[i].c_str();
    } else {
      auto s = sources.append_child("t:AlternateId");
      s.append_attribute("Format") = "EwsId";
      s.append_attribute("Id") = ewsIds[i].c_str();
      s.append_attribute("Mailbox") = smtp_.c_str();
    }
  }
  auto r = Send(*req);
  if (!r) return out;
  bool raised = false;
  for (size_t k = 0; k < missing.size() && k < r->messages.size(); ++k) {
    const ResponseMessage& m = r->messages[k];
    if (!m.ok()) {
      if (!raised) RaiseMessage(m);
      raised = true;
      continue;
    }
    auto alt = Child(m.node, "AlternateId");
    std::string hex = Attr(alt, isPublic ? "FolderId" : "Id");
    auto checked = HexDecode(hex);
    if (!checked) continue;
    hex = HexEncode(*checked);
    size_t i = missing[k];
    hexByEws_[Key(ewsIds[i], isPublic)] = hex;
    ewsByHex_[Key(hex, isPublic)] = ewsIds[i];
    out[i] = hex;
  }
  return out;
}

std::optional<std::string> Core::EwsFromHex(const std::string& entryID, bool isPublic) {
  auto hex = CheckedHex(entryID);
  if (!hex) return std::nullopt;
  if (auto it = ewsByHex_.find(Key(*hex, isPublic)); it != ewsByHex_.end()) return it->second;
  auto req = NewRequest("ConvertId");
  req->op().append_attribute("DestinationFormat") = "EwsId";
  auto sources = req->op().append_child("m:SourceIds");
  if (isPublic) {
    auto s = sources.append_child("t:AlternatePublicFolderId");
    s.append_attribute("Format") = "HexEntryId";
    s.append_attribute("FolderId") = hex->c_str();
  } else {
    auto s = sources.append_child("t:AlternateId");
    s.append_attribute("Format") = "HexEntryId";
    s.append_attribute("Id") = hex->c_str();
    s.append_attribute("Mailbox") = smtp_.c_str();
  }
  auto r = SendOne(*req);
  if (!r) return std::nullopt;
  std::string ews =
      Attr(Child(r->messages.front().node, "AlternateId"), isPublic ? "FolderId" : "Id");
  if (ews.empty()) {
    Err().Raise(MAPI_E_INVALID_ENTRYID, "The server gave no ID for the entry ID.");
    return std::nullopt;
  }
  ewsByHex_[Key(*hex, isPublic)] = ews;
  hexByEws_[Key(ews, isPublic)] = *hex;
  return ews;
}

void Core::AppendFolderShape(pugi::xml_node op, const char* shapeName,
                             const std::vector<int32_t>& tags) {
  auto shape = op.append_child(shapeName);
  AddText(shape, "t:BaseShape", "IdOnly");
  auto props = shape.append_child("t:AdditionalProperties");
  AddFieldUri(props, "folder:DisplayName");
  AddFieldUri(props, "folder:ParentFolderId");
  AddFieldUri(props, "folder:TotalCount");
  for (int32_t tag : tags) AppendPropertyPath(props, tag, named());
}

void Core::AppendItemShape(pugi::xml_node op, const std::vector<int32_t>& tags) {
  auto shape = op.append_child("m:ItemShape");
  AddText(shape, "t:BaseShape", "IdOnly");
  auto props = shape.append_child("t:AdditionalProperties");
  AddFieldUri(props, "item:ItemClass");
  AddFieldUri(props, "item:Subject");
  AddFieldUri(props, "item:DateTimeCreated");
  for (int32_t tag : tags) AppendPropertyPath(props, tag, named());
}

FolderData Core::ReadFolder(pugi::xml_node element, bool isPublic,
                            const std::vector<int32_t>& tags) {
  FolderData f;
  f.element = std::string("t:") + std::string(LocalName(element.name()));
  f.ref = RefOf(Child(element, "FolderId"), isPublic);
  if (auto name = Child(element, "DisplayName")) f.name = name.text().get();
  if (auto parent = Child(element, "ParentFolderId")) f.parent = RefOf(parent, isPublic);
  if (auto total = Child(element, "TotalCount")) f.totalCount = total.text().as_int();
  for (int32_t tag : tags) f.props[tag] = {};
  for (auto& [tag, value] : ReadExtendedProperties(element, named())) f.props[tag] = value;
  return f;
}

ItemData Core::ReadItem(pugi::xml_node element, bool isPublic, const std::vector<int32_t>& tags) {
  ItemData d;
  d.element = std::string("t:") + std::string(LocalName(element.name()));
  auto id = Child(element, "ItemId");
  d.id = Attr(id, "Id");
  d.changeKey = Attr(id, "ChangeKey");
  d.isPublic = isPublic;
  if (auto c = Child(element, "ItemClass")) d.itemClass = c.text().get();
  if (auto s = Child(element, "Subject")) d.subject = s.text().get();
  if (auto t = Child(element, "DateTimeCreated")) d.created = ParseDateTime(t.text().get());
  for (int32_t tag : tags) d.props[tag] = {};
  for (auto& [tag, value] : ReadExtendedProperties(element, named())) d.props[tag] = value;
  return d;
}

std::optional<FolderData> Core::GetFolder(const FolderRef& ref, const std::vector<int32_t>& tags) {
  auto req = NewRequest("GetFolder");
  AppendFolderShape(req->op(), "m:FolderShape", tags);
  AppendFolderId(req->op().append_child("m:FolderIds"), ref);
  auto r = SendOne(*req);
  if (!r) return std::nullopt;
  auto folders = Child(r->messages.front().node, "Folders");
  auto element =
      folders.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
  if (!element) {
    Err().Raise(MAPI_E_NOT_FOUND, "The server returned no folder.");
    return std::nullopt;
  }
  FolderData f = ReadFolder(element, ref.isPublic, tags);
  if (f.ref.id.empty()) f.ref = ref;
  if (!ref.distinguished.empty()) f.ref.distinguished = ref.distinguished;
  return f;
}

std::optional<ItemData> Core::GetItem(const std::string& ewsId, bool isPublic,
                                      const std::vector<int32_t>& tags) {
  auto req = NewRequest("GetItem");
  AppendItemShape(req->op(), tags);
  req->op().append_child("m:ItemIds").append_child("t:ItemId").append_attribute("Id") =
      ewsId.c_str();
  auto r = SendOne(*req);
  if (!r) return std::nullopt;
  auto items = Child(r->messages.front().node, "Items");
  auto element = items.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
  if (!element) {
    Err().Raise(MAPI_E_NOT_FOUND, "The server returned no item.");
    return std::nullopt;
  }
  ItemData d = ReadItem(element, isPublic, tags);
  if (d.id.empty()) d.id = ewsId;
  return d;
}

std::shared_ptr<EwsStore> Core::Store(bool isPublic) {
  return std::make_shared<EwsStore>(shared_from_this(), isPublic);
}

void Core::ItemDeleted(const std::string& ewsId) {
  std::vector<std::shared_ptr<DeletionListener>> live;
  for (auto& w : listeners_) {
    if (auto l = w.lock()) live.push_back(std::move(l));
  }
  listeners_.assign(live.begin(), live.end());
  for (auto& l : live) l->ItemDeleted(ewsId);
}

}  // namespace oa::ews
