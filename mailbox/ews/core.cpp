#include "mailbox/ews/core.h"

#include <algorithm>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/read_cache.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

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
    Err().Raise(MAPI_E_INVALID_ENTRYID,
                "The entry ID is not valid: it must be hexadecimal digits, two for each byte.");
    return std::nullopt;
  }
  return HexEncode(*bytes);
}

Core::Core(std::unique_ptr<Client> client, std::string smtp, std::string displayName)
    : SessionCore(
          kDeleteGroup,
          [this](const std::vector<std::string>& ids, const std::string& deleteType,
                 std::vector<bool>& gone) { SendDeleteGroup(ids, deleteType, gone); },
          [this](const std::string& ewsId) { ItemDeleted(ewsId); }),
      client_(std::move(client)),
      smtp_(std::move(smtp)),
      displayName_(std::move(displayName)),
      cache_(std::make_unique<ReadCache>()) {}

Core::~Core() = default;

std::unique_ptr<Request> Core::NewRequest(const std::string& operation) {
  return client_->NewRequest(operation);
}

std::optional<Response> Core::Send(const Request& request) {
  if (!Alive()) return std::nullopt;
  SendQueuedDeletes();
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

std::optional<std::string> Core::KnownHex(const std::string& ewsId, bool isPublic) const {
  auto it = hexByEws_.find(Key(ewsId, isPublic));
  if (it == hexByEws_.end()) return std::nullopt;
  return it->second;
}

void Core::NoteEntryID(const std::string& ewsId, const std::vector<uint8_t>& entryId) {
  if (ewsId.empty() || entryId.empty()) return;
  const std::string hex = HexEncode(entryId);
  hexByEws_[Key(ewsId, false)] = hex;
  ewsByHex_[Key(hex, false)] = ewsId;
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
  // A public folder item's ID converts only together with its folder's.
  std::vector<const std::string*> folderOf(missing.size(), nullptr);
  for (size_t k = 0; k < missing.size(); ++k) {
    const std::string& id = ewsIds[missing[k]];
    if (auto f = publicItemFolders_.find(id); isPublic && f != publicItemFolders_.end()) {
      folderOf[k] = &f->second;
      auto s = sources.append_child("t:AlternatePublicFolderItemId");
      s.append_attribute("Format") = "EwsId";
      s.append_attribute("FolderId") = f->second.c_str();
      s.append_attribute("ItemId") = id.c_str();
    } else if (isPublic) {
      auto s = sources.append_child("t:AlternatePublicFolderId");
      s.append_attribute("Format") = "EwsId";
      s.append_attribute("FolderId") = id.c_str();
    } else {
      auto s = sources.append_child("t:AlternateId");
      s.append_attribute("Format") = "EwsId";
      s.append_attribute("Id") = id.c_str();
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
    std::string hex = Attr(alt, folderOf[k] ? "ItemId" : isPublic ? "FolderId" : "Id");
    auto checked = HexDecode(hex);
    if (!checked || checked->empty()) continue;
    hex = HexEncode(*checked);
    size_t i = missing[k];
    hexByEws_[Key(ewsIds[i], isPublic)] = hex;
    if (folderOf[k]) {
      publicItemsByHex_[hex] = PublicItemRef{ewsIds[i], *folderOf[k]};
    } else {
      ewsByHex_[Key(hex, isPublic)] = ewsIds[i];
    }
    out[i] = hex;
  }
  return out;
}

std::optional<ItemData> Core::GetPublicItem(const std::string& entryID) {
  auto hex = CheckedHex(entryID);
  if (!hex) return std::nullopt;
  if (auto it = publicItemsByHex_.find(*hex); it != publicItemsByHex_.end()) {
    const PublicItemRef known = it->second;
    auto d = GetItem(known.itemId, true);
    if (d && d->folderId.empty()) d->folderId = known.folderId;
    return d;
  }
  const std::vector<uint8_t> bytes = *HexDecode(*hex);
  switch (ExchangeEntryKindOf(bytes)) {
    case ExchangeEntryKind::PublicMessage:
      return PublicItemIn(*hex, {HexEncode(PublicFolderEntryIdOf(bytes))}, nullptr);
    case ExchangeEntryKind::MailboxMessage:
      Err().Raise(MAPI_E_NOT_FOUND,
                  "The entry ID names a message in a mailbox, not in the public folders.");
      return std::nullopt;
    case ExchangeEntryKind::MailboxFolder:
    case ExchangeEntryKind::PublicFolder:
      Err().Raise(MAPI_E_INVALID_ENTRYID, "The entry ID names a folder, not a message.");
      return std::nullopt;
    case ExchangeEntryKind::Other:
      break;
  }
  return SearchPublicItem(*hex);
}

std::optional<ItemData> Core::PublicItemIn(const std::string& hex,
                                           const std::vector<std::string>& folderHexes,
                                           bool* notThere) {
  if (notThere) *notThere = false;
  auto convert = NewRequest("ConvertId");
  convert->op().append_attribute("DestinationFormat") = "EwsId";
  auto sources = convert->op().append_child("m:SourceIds");
  for (const std::string& folder : folderHexes) {
    auto s = sources.append_child("t:AlternatePublicFolderItemId");
    s.append_attribute("Format") = "HexEntryId";
    s.append_attribute("FolderId") = folder.c_str();
    s.append_attribute("ItemId") = hex.c_str();
  }
  auto converted = Send(*convert);
  if (!converted) return std::nullopt;
  std::vector<PublicItemRef> candidates;
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t firstError = kNone;
  for (size_t k = 0; k < converted->messages.size(); ++k) {
    const ResponseMessage& m = converted->messages[k];
    auto alt = Child(m.node, "AlternateId");
    PublicItemRef ref{Attr(alt, "ItemId"), Attr(alt, "FolderId")};
    if (m.ok() && !ref.itemId.empty() && !ref.folderId.empty()) {
      candidates.push_back(std::move(ref));
    } else if (!m.ok() && firstError == kNone) {
      firstError = k;
    }
  }
  if (candidates.empty()) {
    if (firstError != kNone) {
      RaiseMessage(converted->messages[firstError]);
    } else {
      Err().Raise(MAPI_E_INVALID_ENTRYID, "The server gave no ID for the entry ID.");
    }
    return std::nullopt;
  }

  auto get = NewRequest("GetItem");
  AppendItemShape(get->op(), {});
  auto ids = get->op().append_child("m:ItemIds");
  for (const auto& c : candidates)
    ids.append_child("t:ItemId").append_attribute("Id") = c.itemId.c_str();
  auto got = Send(*get);
  if (!got) return std::nullopt;
  firstError = kNone;
  for (size_t k = 0; k < candidates.size() && k < got->messages.size(); ++k) {
    const ResponseMessage& m = got->messages[k];
    auto element = Child(m.node, "Items").find_child([](pugi::xml_node n) {
      return n.type() == pugi::node_element;
    });
    if (!m.ok() || !element) {
      if (firstError == kNone) firstError = k;
      continue;
    }
    ItemData d = ReadItem(element, true, {});
    if (d.id.empty()) d.id = candidates[k].itemId;
    if (d.folderId.empty()) d.folderId = candidates[k].folderId;
    NotePublicItem(d.id, d.folderId);
    publicItemsByHex_[hex] = PublicItemRef{d.id, d.folderId};
    hexByEws_[Key(d.id, true)] = hex;
    return d;
  }
  if (firstError != kNone) {
    RaiseMessage(got->messages[firstError]);
  } else {
    Err().Raise(MAPI_E_NOT_FOUND, "The server returned no item.");
  }
  if (notThere) *notThere = true;
  return std::nullopt;
}

std::optional<ItemData> Core::SearchPublicItem(const std::string& hex) {
  // Bounds the search on servers with very large public folder trees.
  constexpr size_t kMaxFolders = 1000;
  const oa::ErrObject before = Err();
  FolderRef root;
  root.distinguished = "publicfoldersroot";
  root.isPublic = true;
  auto top = GetFolder(root);
  if (!top) return std::nullopt;
  std::vector<FolderRef> level{top->ref};
  size_t searched = 0;
  while (!level.empty() && searched < kMaxFolders) {
    if (level.size() > kMaxFolders - searched) level.resize(kMaxFolders - searched);
    searched += level.size();
    std::vector<std::string> ids;
    for (const auto& f : level) ids.push_back(f.id);
    std::vector<std::string> folderHexes;
    for (const auto& h : HexFromEws(ids, true)) {
      if (!h) return std::nullopt;
      folderHexes.push_back(*h);
    }
    bool notThere = false;
    if (auto found = PublicItemIn(hex, folderHexes, &notThere)) {
      Err() = before;
      return found;
    }
    if (!notThere) return std::nullopt;
    std::vector<FolderRef> next;
    for (const auto& f : level) {
      Err().Clear();
      EwsFolders children(shared_from_this(), f);
      const int32_t n = children.Count();
      if (Err().Pending()) return std::nullopt;
      for (int32_t i = 1; i <= n; ++i) {
        auto child = std::static_pointer_cast<EwsFolder>(children.Item(i));
        if (child && !child->ref().id.empty()) next.push_back(child->ref());
      }
    }
    level = std::move(next);
  }
  Err().Raise(MAPI_E_NOT_FOUND,
              (level.empty() ? "No public folder holds a message with the entry ID "
                             : "None of the first " + std::to_string(kMaxFolders) +
                                   " public folders holds a message with the entry ID ") +
                  hex + ".");
  return std::nullopt;
}

void Core::NotePublicItem(const std::string& itemId, const std::string& folderId) {
  if (!itemId.empty() && !folderId.empty()) publicItemFolders_[itemId] = folderId;
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

void Core::AppendItemShape(pugi::xml_node op, const std::vector<int32_t>& tags, bool basics,
                           bool parent) {
  auto shape = op.append_child("m:ItemShape");
  AddText(shape, "t:BaseShape", "IdOnly");
  // The list may not be empty.
  if (!basics && !parent && tags.empty()) return;
  auto props = shape.append_child("t:AdditionalProperties");
  if (basics) {
    AddFieldUri(props, "item:ItemClass");
    AddFieldUri(props, "item:Subject");
    AddFieldUri(props, "item:DateTimeCreated");
  }
  if (parent) AddFieldUri(props, "item:ParentFolderId");
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
  if (isPublic) {
    d.folderId = Attr(Child(element, "ParentFolderId"), "Id");
    NotePublicItem(d.id, d.folderId);
  }
  for (int32_t tag : tags) d.props[tag] = {};
  for (auto& [tag, value] : ReadExtendedProperties(element, named())) d.props[tag] = value;
  return d;
}

std::optional<FolderData> Core::GetFolder(const FolderRef& ref, const std::vector<int32_t>& tags) {
  // Deleted by this session: the server has said so already.
  if (cache_->Gone(ref.id, ref.isPublic)) {
    Err().Raise(MAPI_E_NOT_FOUND, "The folder has been deleted.");
    return std::nullopt;
  }
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
  cache_->NoteFolder(f.ref.id, f.ref.isPublic, f.parent ? f.parent->id : "",
                     !ref.distinguished.empty());
  return f;
}

std::optional<ItemData> Core::GetItem(const std::string& ewsId, bool isPublic,
                                      const std::vector<int32_t>& tags) {
  if (auto known = cache_->Item(ewsId, isPublic, tags)) return known;
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
  cache_->PutItem(d, Attr(Child(element, "ParentFolderId"), "Id"));
  return d;
}

std::shared_ptr<EwsStore> Core::Store(bool isPublic) {
  return std::make_shared<EwsStore>(shared_from_this(), isPublic);
}

void Core::ItemDeleted(const std::string& ewsId) {
  cache_->ItemChanged(ewsId, false);
  cache_->ItemChanged(ewsId, true);
  for (auto& l : queue_.Listeners()) l->ItemDeleted(ewsId);
}

}  // namespace oa::ews
