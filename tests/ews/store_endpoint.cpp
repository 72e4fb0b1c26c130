#include "tests/ews/store_endpoint.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/ews/props.h"
#include "mailbox/ews/soap.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/embedded_store.h"

namespace oa::ews::testing {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;

namespace {

constexpr int32_t PR_STORE_ENTRYID = 0x0FFB0102;
constexpr int kPublic = 0xFF;
// Public folder items are named with their folder, as Exchange's IDs for them are.
constexpr int kPublicItem = 0xFE;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// EWS IDs of this server: "OA", the mailbox index (0xFF for the public store), the entry ID.
std::string EwsIdOf(const std::string& hex, int mailbox) {
  auto bytes = HexDecode(hex);
  if (!bytes) return "";
  std::vector<uint8_t> id(bytes->size() + 3);
  id[0] = 'O';
  id[1] = 'A';
  id[2] = static_cast<uint8_t>(mailbox);
  std::copy(bytes->begin(), bytes->end(), id.begin() + 3);
  return Base64Encode(id);
}

bool DecodeEwsId(const std::string& ewsId, std::string* hex, int* mailbox) {
  auto bytes = Base64Decode(ewsId);
  if (!bytes || bytes->size() < 4 || (*bytes)[0] != 'O' || (*bytes)[1] != 'A') return false;
  if ((*bytes)[2] == kPublicItem) return false;
  *mailbox = (*bytes)[2];
  *hex = HexEncode(std::vector<uint8_t>(bytes->begin() + 3, bytes->end()));
  return true;
}

// "OA", 0xFE, the folder entry ID's length, the folder's entry ID, the item's.
std::string PublicItemEwsId(const std::string& folderHex, const std::string& itemHex) {
  auto folder = HexDecode(folderHex);
  auto item = HexDecode(itemHex);
  if (!folder || !item || folder->empty() || folder->size() > 255 || item->empty()) return "";
  // Sized once: growing a four-byte vector gives GCC 12 -O3 a false -Warray-bounds.
  std::vector<uint8_t> id(4 + folder->size() + item->size());
  id[0] = 'O';
  id[1] = 'A';
  id[2] = static_cast<uint8_t>(kPublicItem);
  id[3] = static_cast<uint8_t>(folder->size());
  std::copy(folder->begin(), folder->end(), id.begin() + 4);
  std::copy(item->begin(), item->end(),
            id.begin() + 4 + static_cast<std::ptrdiff_t>(folder->size()));
  return Base64Encode(id);
}

bool DecodePublicItemId(const std::string& ewsId, std::string* folderHex, std::string* itemHex) {
  auto b = Base64Decode(ewsId);
  if (!b || b->size() < 5 || (*b)[0] != 'O' || (*b)[1] != 'A' || (*b)[2] != kPublicItem)
    return false;
  const size_t n = (*b)[3];
  if (n == 0 || b->size() <= 4 + n) return false;
  *folderHex = HexEncode(std::vector<uint8_t>(b->begin() + 4, b->begin() + 4 + n));
  *itemHex = HexEncode(std::vector<uint8_t>(b->begin() + 4 + n, b->end()));
  return true;
}

std::string ItemEwsId(const std::string& hex, int mailbox, const std::string& folderHex) {
  return mailbox == kPublic ? PublicItemEwsId(folderHex, hex) : EwsIdOf(hex, mailbox);
}

std::string PublicStoreID(RDOSession& s) {
  ErrScope keep;
  auto stores = s.Stores();
  auto pub = stores ? stores->FindExchangePublicFoldersStore() : nullptr;
  return pub ? pub->EntryID() : "";
}

std::string CodeFor(int32_t number) {
  switch (number) {
    case MAPI_E_NOT_FOUND:
      return "ErrorItemNotFound";
    case MAPI_E_COLLISION:
      return "ErrorFolderExists";
    case MAPI_E_NO_ACCESS:
      return "ErrorAccessDenied";
    case MAPI_E_INVALID_ENTRYID:
      return "ErrorInvalidIdMalformed";
    default:
      return "ErrorInternalServerError";
  }
}

std::optional<int32_t> TagFromUri(pugi::xml_node uri, RDOSession* session, MAPIProp* obj) {
  std::string type = Attr(uri, "PropertyType");
  int32_t ptype = type == "String"       ? PT_STRING8
                  : type == "Integer"    ? PT_LONG
                  : type == "Short"      ? PT_I2
                  : type == "Boolean"    ? PT_BOOLEAN
                  : type == "SystemTime" ? PT_SYSTIME
                  : type == "Binary"     ? PT_BINARY
                                         : -1;
  if (ptype < 0) return std::nullopt;
  std::string tag = Attr(uri, "PropertyTag");
  if (!tag.empty())
    return static_cast<int32_t>((std::stoul(tag, nullptr, 0) << 16) | static_cast<uint32_t>(ptype));
  std::string name = Attr(uri, "PropertyName");
  // Appended in place: GCC 12 at -O3 reports a false -Wrestrict for "{" + string + "}".
  std::string set;
  if (Attr(uri, "DistinguishedPropertySetId") == "PublicStrings") {
    set = PS_PUBLIC_STRINGS;
  } else {
    set.append("{").append(Attr(uri, "PropertySetId")).append("}");
  }
  (void)session;
  if (!obj || name.empty()) return std::nullopt;
  int32_t id = obj->GetIDsFromNames(set, name);
  if (!id) return std::nullopt;
  return id | ptype;
}

// Named properties go back with the property set as a GUID, as some servers answer.
void EchoUri(pugi::xml_node parent, pugi::xml_node asked) {
  auto uri = parent.append_child("t:ExtendedFieldURI");
  for (auto a = asked.first_attribute(); a; a = a.next_attribute()) {
    if (LocalName(a.name()) == "DistinguishedPropertySetId") {
      uri.append_attribute("PropertySetId") = "00020329-0000-0000-c000-000000000046";
    } else {
      uri.append_attribute(std::string(LocalName(a.name())).c_str()) = a.value();
    }
  }
}

}  // namespace

struct StoreEndpoint::Call {
  pugi::xml_node op;
  pugi::xml_node header;
  std::string name;
  pugi::xml_document out;
  pugi::xml_node messages;
  int defaultMailbox = 0;

  pugi::xml_node Message(const char* responseClass = "Success") {
    auto m = messages.append_child(("m:" + name + "ResponseMessage").c_str());
    m.append_attribute("ResponseClass") = responseClass;
    return m;
  }
  void Ok(pugi::xml_node m) { AddText(m, "m:ResponseCode", "NoError"); }
  void Fail(const std::string& code, const std::string& text) {
    auto m = Message("Error");
    AddText(m, "m:MessageText", text);
    AddText(m, "m:ResponseCode", code);
    AddText(m, "m:DescriptiveLinkKey", "0");
  }
  // The pending store error, or a generic one, as an error message.
  void FailFromErr(const char* fallback = "The specified object was not found in the store.") {
    if (Err().Pending()) {
      Fail(CodeFor(Err().Number()), Err().Description());
    } else {
      Fail("ErrorItemNotFound", fallback);
    }
  }
};

StoreEndpoint::StoreEndpoint(std::string storeFile, std::vector<ServerMailbox> mailboxes)
    : storeFile_(std::move(storeFile)), mailboxes_(std::move(mailboxes)) {
  factory_ = FindSessionClass(kSessionProgID);
  if (!factory_) {
    oa::store::RegisterEmbeddedSessionClass();
    factory_ = FindSessionClass(kSessionProgID);
  }
}

int StoreEndpoint::MailboxIndex(const std::string& text) const {
  for (size_t i = 0; i < mailboxes_.size(); ++i) {
    if (oa::text::EqualIgnoringCase(mailboxes_[i].alias, text) ||
        oa::text::EqualIgnoringCase(mailboxes_[i].address, text))
      return static_cast<int>(i);
  }
  return -1;
}

std::shared_ptr<RDOSession> StoreEndpoint::Session(int mailbox) {
  if (mailbox == kPublic || mailbox < 0 || mailbox >= static_cast<int>(mailboxes_.size()))
    mailbox = 0;
  auto& s = sessions_[mailbox];
  if (!s && factory_) {
    s = factory_();
    if (s)
      s->LogonExchangeMailbox(mailboxes_.empty() ? "" : mailboxes_[mailbox].address, storeFile_);
  }
  return s && s->LoggedOn() ? s : nullptr;
}

namespace {

struct FolderAt {
  std::shared_ptr<RDOFolder> folder;
  int mailbox = 0;
};

}  // namespace

// Folders and items named in requests, and how they are written into answers.
namespace {

FolderAt OpenFolder(pugi::xml_node idNode, int defaultMailbox,
                    const std::function<std::shared_ptr<RDOSession>(int)>& session) {
  FolderAt at;
  if (LocalName(idNode.name()) == "FolderId") {
    std::string hex;
    if (!DecodeEwsId(Attr(idNode, "Id"), &hex, &at.mailbox)) {
      Err().Raise(MAPI_E_INVALID_ENTRYID, "Id is malformed.");
      return at;
    }
    auto s = session(at.mailbox);
    if (!s) return at;
    std::string storeID;
    if (at.mailbox == kPublic) {
      auto pub = s->Stores() ? s->Stores()->FindExchangePublicFoldersStore() : nullptr;
      if (pub) storeID = pub->EntryID();
    }
    at.folder = s->GetFolderFromID(hex, storeID);
    return at;
  }
  std::string name = Attr(idNode, "Id");
  at.mailbox = defaultMailbox;
  auto s = session(at.mailbox);
  if (!s) return at;
  if (name == "publicfoldersroot") {
    at.mailbox = kPublic;
    at.folder = s->GetDefaultFolder(olPublicFoldersAllPublicFolders);
    return at;
  }
  auto store = s->Stores() ? s->Stores()->DefaultStore() : nullptr;
  if (!store) return at;
  if (name == "root")
    at.folder = store->RootFolder();
  else if (name == "msgfolderroot")
    at.folder = store->IPMRootFolder();
  else
    Err().Raise(MAPI_E_NOT_FOUND, "The specified folder could not be found in the store.");
  return at;
}

bool FolderHolds(RDOFolder& folder, const std::string& itemHex) {
  auto items = folder.Items();
  const int32_t n = items ? items->Count() : 0;
  for (int32_t i = 1; i <= n; ++i) {
    auto mail = items->Item(i);
    if (mail && mail->EntryID() == itemHex) return true;
  }
  return false;
}

// The message an item ID names. A public folder item opens only in the folder its ID names.
std::shared_ptr<RDOMail> OpenItem(const std::string& ewsId, int* mailbox, std::string* folderHex,
                                  const std::function<std::shared_ptr<RDOSession>(int)>& session) {
  std::string hex;
  folderHex->clear();
  if (DecodePublicItemId(ewsId, folderHex, &hex)) {
    *mailbox = kPublic;
    auto s = session(kPublic);
    if (!s) return nullptr;
    const std::string pub = PublicStoreID(*s);
    auto folder = s->GetFolderFromID(*folderHex, pub);
    auto mail = folder ? s->GetMessageFromID(hex, pub) : nullptr;
    if (!mail) return nullptr;
    if (!FolderHolds(*folder, mail->EntryID())) {
      Err().Raise(MAPI_E_NOT_FOUND, "The specified object was not found in the store.");
      return nullptr;
    }
    return mail;
  }
  if (!DecodeEwsId(ewsId, &hex, mailbox) || *mailbox == kPublic) {
    Err().Raise(MAPI_E_INVALID_ENTRYID, "Id is malformed.");
    return nullptr;
  }
  auto s = session(*mailbox);
  return s ? s->GetMessageFromID(hex, "") : nullptr;
}

void WriteExtended(pugi::xml_node element, pugi::xml_node shape, MAPIProp& obj,
                   const std::function<std::string()>& storeEntryID) {
  for (auto uri : Children(Child(shape, "AdditionalProperties"), "ExtendedFieldURI")) {
    auto tag = TagFromUri(uri, nullptr, &obj);
    if (!tag) continue;
    Variant v;
    if (*tag == PR_STORE_ENTRYID) {
      auto bytes = HexDecode(storeEntryID());
      if (bytes) v = Variant::Binary(*bytes);
    } else {
      ErrScope keep;
      v = obj.Fields(*tag);
    }
    auto text = v.IsEmpty() ? std::nullopt : ValueText(v, *tag);
    if (!text) continue;
    auto prop = element.append_child("t:ExtendedProperty");
    EchoUri(prop, uri);
    AddText(prop, "t:Value", *text);
  }
}

bool Wants(pugi::xml_node shape, const char* fieldUri) {
  for (auto f : Children(Child(shape, "AdditionalProperties"), "FieldURI"))
    if (Attr(f, "FieldURI") == fieldUri) return true;
  return false;
}

void WriteFolder(pugi::xml_node parent, RDOFolder& folder, int mailbox, pugi::xml_node shape) {
  ErrScope keep;
  auto f = parent.append_child("t:Folder");
  auto id = f.append_child("t:FolderId");
  id.append_attribute("Id") = EwsIdOf(folder.EntryID(), mailbox).c_str();
  id.append_attribute("ChangeKey") = "AQAAAA==";
  if (Wants(shape, "folder:ParentFolderId")) {
    Err().Clear();
    auto p = folder.Parent();
    std::string pid = p ? p->EntryID() : "";
    if (!pid.empty())
      f.append_child("t:ParentFolderId").append_attribute("Id") = EwsIdOf(pid, mailbox).c_str();
  }
  if (Wants(shape, "folder:DisplayName")) AddText(f, "t:DisplayName", folder.Name());
  if (Wants(shape, "folder:TotalCount")) {
    auto items = folder.Items();
    AddText(f, "t:TotalCount", std::to_string(items ? items->Count() : 0));
  }
  WriteExtended(f, shape, folder, [&] {
    auto s = folder.Store();
    return s ? s->EntryID() : std::string();
  });
}

// `folderHex`: the entry ID of the folder that holds the item, when known.
void WriteItem(pugi::xml_node parent, RDOMail& mail, int mailbox, pugi::xml_node shape,
               const std::string& folderHex) {
  ErrScope keep;
  const std::string cls = mail.MessageClass();
  auto e = parent.append_child(Lower(cls).rfind("ipm.note", 0) == 0 ? "t:Message" : "t:Item");
  auto id = e.append_child("t:ItemId");
  id.append_attribute("Id") = ItemEwsId(mail.EntryID(), mailbox, folderHex).c_str();
  id.append_attribute("ChangeKey") = "CQAAAA==";
  if (Wants(shape, "item:ParentFolderId") && !folderHex.empty())
    e.append_child("t:ParentFolderId").append_attribute("Id") = EwsIdOf(folderHex, mailbox).c_str();
  if (Wants(shape, "item:ItemClass")) AddText(e, "t:ItemClass", cls);
  if (Wants(shape, "item:Subject")) AddText(e, "t:Subject", mail.Subject());
  if (Wants(shape, "item:DateTimeCreated")) {
    Variant created = mail.CreationTime();
    if (created.type() == Variant::Type::Date)
      AddText(e, "t:DateTimeCreated", DateTimeText(created.AsDate()));
  }
  WriteExtended(e, shape, mail, [&] {
    auto s = mail.Store();
    return s ? s->EntryID() : std::string();
  });
}

void PageAttributes(pugi::xml_node root, int offset, int returned, int total) {
  root.append_attribute("IndexedPagingOffset") = offset + returned;
  root.append_attribute("TotalItemsInView") = total;
  root.append_attribute("IncludesLastItemInRange") = offset + returned >= total ? "true" : "false";
}

void ReadView(pugi::xml_node op, const char* view, int* offset, int* max) {
  auto v = Child(op, view);
  *offset = v ? v.attribute("Offset").as_int(0) : 0;
  *max = v ? v.attribute("MaxEntriesReturned").as_int(1000) : 1000;
}

int32_t TagOfField(pugi::xml_node path, MAPIProp* obj) {
  if (LocalName(path.name()) == "FieldURI") {
    std::string f = Attr(path, "FieldURI");
    if (f == "item:Subject") return PR_SUBJECT;
    if (f == "item:ItemClass") return PR_MESSAGE_CLASS;
    return 0;
  }
  return TagFromUri(path, nullptr, obj).value_or(0);
}

// An EWS restriction as the table filter's restriction; false when it holds something else.
bool BuildRestriction(pugi::xml_node expr, RDORestriction& r, MAPIProp* namer) {
  std::string kind(LocalName(expr.name()));
  if (kind == "And" || kind == "Or") {
    for (auto m = expr.first_child(); m; m = m.next_sibling()) {
      if (m.type() != pugi::node_element) continue;
      std::string mk(LocalName(m.name()));
      auto member = r.Add(mk == "And" ? RES_AND : mk == "Or" ? RES_OR : RES_CONTENT);
      if (!member || !BuildRestriction(m, *member, namer)) return false;
    }
    return true;
  }
  if (kind != "Contains") return false;
  auto path = expr.find_child([](pugi::xml_node n) {
    return LocalName(n.name()) == "FieldURI" || LocalName(n.name()) == "ExtendedFieldURI";
  });
  int32_t tag = TagOfField(path, namer);
  if (!tag) return false;
  std::string mode = Attr(expr, "ContainmentMode"), cmp = Attr(expr, "ContainmentComparison");
  int32_t fuzzy = mode == "Substring"  ? FL_SUBSTRING
                  : mode == "Prefixed" ? FL_PREFIX
                                       : FL_FULLSTRING;
  if (cmp.find("IgnoreCase") != std::string::npos) fuzzy |= FL_IGNORECASE;
  r.SetProp(Variant::String(Attr(Child(expr, "Constant"), "Value")));
  r.SetFuzzyLevel(fuzzy);
  r.SetPropTag(tag);
  return true;
}

}  // namespace

std::string StoreEndpoint::Handle(const std::string& body, std::string* operation) {
  Call c;
  pugi::xml_document in;
  in.load_buffer(body.data(), body.size());
  auto env = Child(in, "Envelope");
  c.header = Child(env, "Header");
  c.op = Child(env, "Body").find_child([](pugi::xml_node n) {
    return n.type() == pugi::node_element;
  });
  c.name = std::string(LocalName(c.op.name()));
  *operation = c.name;
  std::string impersonated = ChildText(
      Child(Child(c.header, "ExchangeImpersonation"), "ConnectingSID"), "PrimarySmtpAddress");
  if (!impersonated.empty()) c.defaultMailbox = std::max(0, MailboxIndex(impersonated));

  auto decl = c.out.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "utf-8";
  auto oenv = c.out.append_child("s:Envelope");
  oenv.append_attribute("xmlns:s") = kSoapNs;
  auto info = oenv.append_child("s:Header").append_child("h:ServerVersionInfo");
  info.append_attribute("MajorVersion") = "15";
  info.append_attribute("MinorVersion") = "1";
  info.append_attribute("Version") = "V2017_07_11";
  info.append_attribute("xmlns:h") = kTypesNs;
  auto resp = oenv.append_child("s:Body").append_child(("m:" + c.name + "Response").c_str());
  resp.append_attribute("xmlns:m") = kMessagesNs;
  resp.append_attribute("xmlns:t") = kTypesNs;
  c.messages = resp.append_child("m:ResponseMessages");

  Err().Clear();
  if (c.name == "ResolveNames")
    ResolveNames(c);
  else if (c.name == "ConvertId")
    ConvertId(c);
  else if (c.name == "GetFolder")
    GetFolder(c);
  else if (c.name == "FindFolder")
    FindFolder(c);
  else if (c.name == "CreateFolder")
    CreateFolder(c);
  else if (c.name == "DeleteFolder")
    DeleteFolder(c);
  else if (c.name == "UpdateFolder")
    UpdateFolder(c);
  else if (c.name == "FindItem")
    FindItem(c);
  else if (c.name == "GetItem")
    GetItem(c);
  else if (c.name == "DeleteItem")
    DeleteItem(c);
  else if (c.name == "UpdateItem")
    UpdateItem(c);
  else
    c.Fail("ErrorInvalidRequest", "The request is not supported by this server.");
  Err().Clear();

  std::ostringstream out;
  c.out.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

void StoreEndpoint::ResolveNames(Call& c) {
  const std::string text = ChildText(c.op, "UnresolvedEntry");
  const int index = MailboxIndex(text);
  if (index < 0) {
    c.Fail("ErrorNameResolutionNoResults", "No results were found.");
    return;
  }
  auto s = Session(index);
  auto store = s && s->Stores() ? s->Stores()->DefaultStore() : nullptr;
  if (!store || mailboxes_.empty()) {
    c.Fail("ErrorNameResolutionNoResults", "No results were found.");
    return;
  }
  auto m = c.Message();
  c.Ok(m);
  auto set = m.append_child("m:ResolutionSet");
  set.append_attribute("TotalItemsInView") = 1;
  set.append_attribute("IncludesLastItemInRange") = "true";
  auto box = set.append_child("t:Resolution").append_child("t:Mailbox");
  AddText(box, "t:Name", store->Name());
  AddText(box, "t:EmailAddress", mailboxes_[static_cast<size_t>(index)].address);
  AddText(box, "t:RoutingType", "SMTP");
  AddText(box, "t:MailboxType", "Mailbox");
}

namespace {

// A public folder item converts with its folder: the folder's ID and the item's, both ways.
void ConvertPublicItemId(pugi::xml_node src, const std::string& to, std::string* folderOut,
                         std::string* itemOut) {
  const std::string from = Attr(src, "Format");
  if (from == "HexEntryId" && to == "EwsId") {
    auto folder = HexDecode(Attr(src, "FolderId"));
    auto item = HexDecode(Attr(src, "ItemId"));
    if (!folder || !item || folder->empty() || item->empty()) return;
    *folderOut = EwsIdOf(HexEncode(*folder), kPublic);
    *itemOut = PublicItemEwsId(HexEncode(*folder), HexEncode(*item));
  } else if (from == "EwsId" && to == "HexEntryId") {
    DecodePublicItemId(Attr(src, "ItemId"), folderOut, itemOut);
  }
}

}  // namespace

void StoreEndpoint::ConvertId(Call& c) {
  const std::string to = Attr(c.op, "DestinationFormat");
  for (auto src = Child(c.op, "SourceIds").first_child(); src; src = src.next_sibling()) {
    if (src.type() != pugi::node_element) continue;
    if (LocalName(src.name()) == "AlternatePublicFolderItemId") {
      std::string folder, item;
      ConvertPublicItemId(src, to, &folder, &item);
      if (folder.empty() || item.empty()) {
        c.Fail("ErrorInvalidIdMalformed", "Id is malformed.");
        continue;
      }
      auto m = c.Message();
      c.Ok(m);
      auto alt = m.append_child("m:AlternateId");
      alt.append_attribute("xmlns:xsi") = "http://www.w3.org/2001/XMLSchema-instance";
      alt.append_attribute("xsi:type") = "t:AlternatePublicFolderItemIdType";
      alt.append_attribute("Format") = to.c_str();
      alt.append_attribute("FolderId") = folder.c_str();
      alt.append_attribute("ItemId") = item.c_str();
      continue;
    }
    const bool pub = LocalName(src.name()) == "AlternatePublicFolderId";
    const std::string idAttr = pub ? "FolderId" : "Id";
    const std::string from = Attr(src, "Format"), id = Attr(src, idAttr);
    std::string result;
    if (from == "EwsId" && to == "HexEntryId") {
      int mailbox = 0;
      std::string hex;
      if (DecodeEwsId(id, &hex, &mailbox)) result = hex;
    } else if (from == "HexEntryId" && to == "EwsId" && HexDecode(id) && !id.empty()) {
      result = EwsIdOf(id, pub ? kPublic : std::max(0, MailboxIndex(Attr(src, "Mailbox"))));
    }
    if (result.empty()) {
      c.Fail("ErrorInvalidIdMalformed", "Id is malformed.");
      continue;
    }
    auto m = c.Message();
    c.Ok(m);
    auto alt = m.append_child("m:AlternateId");
    alt.append_attribute("Format") = to.c_str();
    alt.append_attribute(idAttr.c_str()) = result.c_str();
    if (!pub) alt.append_attribute("Mailbox") = Attr(src, "Mailbox").c_str();
  }
}

namespace {
std::function<std::shared_ptr<RDOSession>(int)> Opener(
    StoreEndpoint* self, std::shared_ptr<RDOSession> (StoreEndpoint::*f)(int)) {
  return [self, f](int m) { return (self->*f)(m); };
}

int MailboxOfRef(pugi::xml_node ref, int fallback,
                 const std::function<int(const std::string&)>& index) {
  std::string address = ChildText(Child(ref, "Mailbox"), "EmailAddress");
  if (address.empty()) return fallback;
  return std::max(0, index(address));
}
}  // namespace

#define OA_OPEN_FOLDER(node)                                                         \
  OpenFolder(node,                                                                   \
             MailboxOfRef(node, c.defaultMailbox,                                    \
                          [this](const std::string& a) { return MailboxIndex(a); }), \
             Opener(this, &StoreEndpoint::Session))

void StoreEndpoint::GetFolder(Call& c) {
  auto shape = Child(c.op, "FolderShape");
  for (auto ref = Child(c.op, "FolderIds").first_child(); ref; ref = ref.next_sibling()) {
    if (ref.type() != pugi::node_element) continue;
    Err().Clear();
    FolderAt at = OA_OPEN_FOLDER(ref);
    if (!at.folder) {
      c.FailFromErr();
      continue;
    }
    auto m = c.Message();
    c.Ok(m);
    WriteFolder(m.append_child("m:Folders"), *at.folder, at.mailbox, shape);
  }
}

void StoreEndpoint::FindFolder(Call& c) {
  auto shape = Child(c.op, "FolderShape");
  auto ref = Child(c.op, "ParentFolderIds").first_child();
  FolderAt at = OA_OPEN_FOLDER(ref);
  auto folders = at.folder ? at.folder->Folders() : nullptr;
  if (!folders) return c.FailFromErr();
  std::vector<std::shared_ptr<RDOFolder>> found;
  auto contains = Child(Child(c.op, "Restriction"), "Contains");
  if (contains) {
    Err().Clear();
    auto one = folders->Item(Attr(Child(contains, "Constant"), "Value"));
    if (one)
      found.push_back(one);
    else if (Err().Pending() && Err().Number() != MAPI_E_NOT_FOUND)
      return c.FailFromErr();
  } else {
    int32_t n = folders->Count();
    for (int32_t i = 1; i <= n; ++i)
      if (auto f = folders->Item(i)) found.push_back(f);
  }
  int offset, max;
  ReadView(c.op, "IndexedPageFolderView", &offset, &max);
  auto m = c.Message();
  c.Ok(m);
  auto root = m.append_child("m:RootFolder");
  auto list = root.append_child("t:Folders");
  int returned = 0;
  for (int i = offset; i < static_cast<int>(found.size()) && returned < max; ++i, ++returned)
    WriteFolder(list, *found[static_cast<size_t>(i)], at.mailbox, shape);
  PageAttributes(root, offset, returned, static_cast<int>(found.size()));
}

void StoreEndpoint::CreateFolder(Call& c) {
  FolderAt at = OA_OPEN_FOLDER(Child(c.op, "ParentFolderId").first_child());
  auto folders = at.folder ? at.folder->Folders() : nullptr;
  if (!folders) return c.FailFromErr();
  for (auto f = Child(c.op, "Folders").first_child(); f; f = f.next_sibling()) {
    if (f.type() != pugi::node_element) continue;
    Err().Clear();
    auto created = folders->Add(ChildText(f, "DisplayName"));
    if (!created) {
      c.FailFromErr();
      continue;
    }
    auto m = c.Message();
    c.Ok(m);
    auto id = m.append_child("m:Folders").append_child("t:Folder").append_child("t:FolderId");
    id.append_attribute("Id") = EwsIdOf(created->EntryID(), at.mailbox).c_str();
    id.append_attribute("ChangeKey") = "AQAAAA==";
  }
}

void StoreEndpoint::DeleteFolder(Call& c) {
  for (auto ref = Child(c.op, "FolderIds").first_child(); ref; ref = ref.next_sibling()) {
    if (ref.type() != pugi::node_element) continue;
    Err().Clear();
    if (LocalName(ref.name()) == "DistinguishedFolderId") {
      c.Fail("ErrorDeleteDistinguishedFolder", "Distinguished folders cannot be deleted.");
      continue;
    }
    FolderAt at = OA_OPEN_FOLDER(ref);
    if (!at.folder) {
      c.FailFromErr();
      continue;
    }
    Err().Clear();
    at.folder->Delete();
    if (Err().Pending()) {
      c.FailFromErr();
      continue;
    }
    c.Ok(c.Message());
  }
}

void StoreEndpoint::UpdateFolder(Call& c) {
  for (auto change : Children(Child(c.op, "FolderChanges"), "FolderChange")) {
    Err().Clear();
    auto ref = change.find_child([](pugi::xml_node n) {
      return LocalName(n.name()) == "FolderId" || LocalName(n.name()) == "DistinguishedFolderId";
    });
    FolderAt at = OA_OPEN_FOLDER(ref);
    if (!at.folder) {
      c.FailFromErr();
      continue;
    }
    bool ok = true;
    for (auto set : Children(Child(change, "Updates"), "SetFolderField")) {
      auto value = set.last_child();
      if (auto uri = Child(set, "FieldURI"); uri && Attr(uri, "FieldURI") == "folder:DisplayName") {
        ok = at.folder->SetName(ChildText(value, "DisplayName")) && ok;
      } else if (auto ext = Child(set, "ExtendedFieldURI")) {
        auto tag = TagFromUri(ext, nullptr, at.folder.get());
        ok = tag &&
             at.folder->SetFields(
                 *tag, ValueFromText(ChildText(Child(value, "ExtendedProperty"), "Value"), *tag)) &&
             ok;
      }
    }
    if (!ok || !at.folder->Save()) {
      c.FailFromErr("The folder could not be updated.");
      continue;
    }
    auto m = c.Message();
    c.Ok(m);
    m.append_child("m:Folders")
        .append_child("t:Folder")
        .append_child("t:FolderId")
        .append_attribute("Id") = EwsIdOf(at.folder->EntryID(), at.mailbox).c_str();
  }
}

void StoreEndpoint::FindItem(Call& c) {
  auto shape = Child(c.op, "ItemShape");
  FolderAt at = OA_OPEN_FOLDER(Child(c.op, "ParentFolderIds").first_child());
  auto items = at.folder ? at.folder->Items() : nullptr;
  if (!items) return c.FailFromErr();
  int offset, max;
  ReadView(c.op, "IndexedPageItemView", &offset, &max);
  std::vector<std::shared_ptr<RDOMail>> page;
  int total = 0;
  auto expr = Child(c.op, "Restriction").first_child();
  if (expr) {
    auto table = items->MAPITable();
    auto filter = table ? table->Filter() : nullptr;
    if (!filter) return c.FailFromErr();
    table->SetColumns({PR_LONGTERM_ENTRYID_FROM_TABLE});
    std::string kind(LocalName(expr.name()));
    auto root = filter->SetKind(kind == "And" ? RES_AND : kind == "Or" ? RES_OR : RES_CONTENT);
    auto s = Session(at.mailbox);
    if (!root || !BuildRestriction(expr, *root, at.folder.get())) {
      c.Fail("ErrorUnsupportedQueryFilter", "The restriction is not supported.");
      return;
    }
    for (bool f = filter->FindFirst(true); f; f = filter->FindNext(true)) {
      auto row = table->GetRow();
      if (row.empty()) break;
      if (total >= offset && static_cast<int>(page.size()) < max && s) {
        std::string hex;
        if (row[0].IsArray()) {
          std::vector<uint8_t> bytes;
          for (auto& b : row[0].AsArray()) bytes.push_back(b.AsByte());
          hex = HexEncode(bytes);
        }
        if (auto mail = s->GetMessageFromID(hex, at.mailbox == kPublic ? PublicStoreID(*s) : ""))
          page.push_back(mail);
      }
      ++total;
    }
    filter->Reset();
  } else {
    Err().Clear();
    total = items->Count();
    if (Err().Pending()) return c.FailFromErr();
    for (int i = offset + 1; i <= total && static_cast<int>(page.size()) < max; ++i) {
      auto mail = items->Item(i);
      if (!mail) return c.FailFromErr();
      page.push_back(mail);
    }
  }
  auto m = c.Message();
  c.Ok(m);
  auto root = m.append_child("m:RootFolder");
  PageAttributes(root, offset, static_cast<int>(page.size()), total);
  auto list = root.append_child("t:Items");
  const std::string folderHex = at.folder->EntryID();
  for (auto& mail : page) WriteItem(list, *mail, at.mailbox, shape, folderHex);
}

void StoreEndpoint::GetItem(Call& c) {
  auto shape = Child(c.op, "ItemShape");
  for (auto id : Children(Child(c.op, "ItemIds"), "ItemId")) {
    Err().Clear();
    int mailbox = 0;
    std::string folderHex;
    auto mail =
        OpenItem(Attr(id, "Id"), &mailbox, &folderHex, Opener(this, &StoreEndpoint::Session));
    if (!mail) {
      c.FailFromErr();
      continue;
    }
    auto m = c.Message();
    c.Ok(m);
    WriteItem(m.append_child("m:Items"), *mail, mailbox, shape, folderHex);
  }
}

void StoreEndpoint::DeleteItem(Call& c) {
  const std::string type = Attr(c.op, "DeleteType");
  const int32_t flags = type == "HardDelete"           ? dfHardDelete
                        : type == "MoveToDeletedItems" ? dfMoveToDeletedItems
                                                       : dfSoftDelete;
  for (auto id : Children(Child(c.op, "ItemIds"), "ItemId")) {
    Err().Clear();
    int mailbox = 0;
    std::string folderHex;
    auto mail =
        OpenItem(Attr(id, "Id"), &mailbox, &folderHex, Opener(this, &StoreEndpoint::Session));
    if (!mail) {
      c.FailFromErr();
      continue;
    }
    Err().Clear();
    mail->Delete(flags);
    if (Err().Pending()) {
      c.FailFromErr();
      continue;
    }
    c.Ok(c.Message());
  }
}

void StoreEndpoint::UpdateItem(Call& c) {
  for (auto change : Children(Child(c.op, "ItemChanges"), "ItemChange")) {
    Err().Clear();
    int mailbox = 0;
    std::string folderHex;
    auto mail = OpenItem(Attr(Child(change, "ItemId"), "Id"), &mailbox, &folderHex,
                         Opener(this, &StoreEndpoint::Session));
    if (!mail) {
      c.FailFromErr();
      continue;
    }
    bool ok = true;
    for (auto set : Children(Child(change, "Updates"), "SetItemField")) {
      auto ext = Child(set, "ExtendedFieldURI");
      auto tag = ext ? TagFromUri(ext, nullptr, mail.get()) : std::nullopt;
      if (!tag) {
        c.Fail("ErrorInvalidPropertySet", "Only extended properties can be set.");
        ok = false;
        break;
      }
      auto value = ChildText(Child(set.last_child(), "ExtendedProperty"), "Value");
      ok = mail->SetFields(*tag, ValueFromText(value, *tag)) && ok;
    }
    if (!ok) {
      if (!Err().Pending()) continue;
      c.FailFromErr();
      continue;
    }
    Err().Clear();
    if (!mail->Save()) {
      c.FailFromErr("The item could not be saved.");
      continue;
    }
    auto m = c.Message();
    c.Ok(m);
    auto item = m.append_child("m:Items").append_child("t:Message").append_child("t:ItemId");
    item.append_attribute("Id") = ItemEwsId(mail->EntryID(), mailbox, folderHex).c_str();
  }
}

}  // namespace oa::ews::testing
