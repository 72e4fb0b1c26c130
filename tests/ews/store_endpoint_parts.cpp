#include "tests/ews/store_endpoint_parts.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/ews/props.h"
#include "mailbox/ews/soap.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/embedded_store.h"

namespace oa::ews::testing::endpoint {

using namespace oa::mailbox::ConstMAPI;

// Public folder items are named with their folder, as Exchange's IDs for them are.

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
  const std::string lower = Lower(cls);
  auto e = parent.append_child(lower.rfind("ipm.note", 0) == 0          ? "t:Message"
                               : lower.rfind("ipm.appointment", 0) == 0 ? "t:CalendarItem"
                               : lower.rfind("ipm.task", 0) == 0        ? "t:Task"
                                                                        : "t:Item");
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

}  // namespace oa::ews::testing::endpoint
