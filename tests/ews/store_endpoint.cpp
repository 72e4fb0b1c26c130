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
#include "tests/ews/store_endpoint_parts.h"

namespace oa::ews::testing {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;

using namespace endpoint;

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

// Folders and items named in requests, and how they are written into answers.

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

}  // namespace oa::ews::testing
