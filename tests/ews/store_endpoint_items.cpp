// The item operations of the test server: FindItem, GetItem, DeleteItem and UpdateItem.
#include <algorithm>
#include <cctype>
#include <sstream>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/ews/props.h"
#include "mailbox/ews/soap.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/embedded_store.h"
#include "mailbox/store/sqlite_db.h"
#include "tests/ews/store_endpoint.h"
#include "tests/ews/store_endpoint_parts.h"

namespace oa::ews::testing {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using namespace endpoint;

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
  // The request's deletes are written together, as a server writes a batch; each item still
  // succeeds or fails alone.
  oa::store::CallBatch batch;
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
    // Exchange's answers when a calendar item or a task comes without what its delete needs.
    const std::string cls = Lower(mail->MessageClass());
    if (cls.rfind("ipm.appointment", 0) == 0 && !c.op.attribute("SendMeetingCancellations")) {
      c.Fail("ErrorSendMeetingCancellationsRequired",
             "SendMeetingCancellations attribute is required for Calendar items.");
      continue;
    }
    if (cls.rfind("ipm.task", 0) == 0 && !c.op.attribute("AffectedTaskOccurrences")) {
      c.Fail("ErrorAffectedTaskOccurrencesRequired",
             "AffectedTaskOccurrences attribute is required for Task items.");
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
  if (batch.Commit()) return;
  // Told deleted, and then not kept: none of them may be reported deleted.
  for (auto m : c.messages.children()) {
    if (Attr(m, "ResponseClass") != "Success") continue;
    m.attribute("ResponseClass") = "Error";
    m.remove_children();
    AddText(m, "m:MessageText", "The store could not keep the change.");
    AddText(m, "m:ResponseCode", "ErrorInternalServerError");
    AddText(m, "m:DescriptiveLinkKey", "0");
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
