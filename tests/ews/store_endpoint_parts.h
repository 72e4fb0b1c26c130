// The pieces the EWS operations of the test server share: IDs as EWS writes them, the
// folders and items a request names, and how objects are written into answers.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "base/mapi_error.h"
#include "mailbox/ews/soap.h"
#include "mailbox/model/rdo.h"
#include "tests/ews/store_endpoint.h"

namespace oa::ews::testing {

namespace endpoint {

using namespace oa::mailbox;

constexpr int32_t PR_STORE_ENTRYID = 0x0FFB0102;
constexpr int kPublic = 0xFF;
// Public folder items are named with their folder, as Exchange's IDs for them are.
constexpr int kPublicItem = 0xFE;

std::string Lower(std::string s);

// EWS IDs of this server: "OA", the mailbox index (0xFF for the public store), the entry ID.
std::string EwsIdOf(const std::string& hex, int mailbox);

bool DecodeEwsId(const std::string& ewsId, std::string* hex, int* mailbox);

// "OA", 0xFE, the folder entry ID's length, the folder's entry ID, the item's.
std::string PublicItemEwsId(const std::string& folderHex, const std::string& itemHex);

bool DecodePublicItemId(const std::string& ewsId, std::string* folderHex, std::string* itemHex);

std::string ItemEwsId(const std::string& hex, int mailbox, const std::string& folderHex);

std::string PublicStoreID(RDOSession& s);

std::string CodeFor(int32_t number);

std::optional<int32_t> TagFromUri(pugi::xml_node uri, RDOSession* session, MAPIProp* obj);

// Named properties go back with the property set as a GUID, as some servers answer.
void EchoUri(pugi::xml_node parent, pugi::xml_node asked);

struct FolderAt {
  std::shared_ptr<RDOFolder> folder;
  int mailbox = 0;
};

FolderAt OpenFolder(pugi::xml_node idNode, int defaultMailbox,
                    const std::function<std::shared_ptr<RDOSession>(int)>& session);

bool FolderHolds(RDOFolder& folder, const std::string& itemHex);

// The message an item ID names. A public folder item opens only in the folder its ID names.
std::shared_ptr<RDOMail> OpenItem(const std::string& ewsId, int* mailbox, std::string* folderHex,
                                  const std::function<std::shared_ptr<RDOSession>(int)>& session);

void WriteExtended(pugi::xml_node element, pugi::xml_node shape, MAPIProp& obj,
                   const std::function<std::string()>& storeEntryID);

bool Wants(pugi::xml_node shape, const char* fieldUri);

void WriteFolder(pugi::xml_node parent, RDOFolder& folder, int mailbox, pugi::xml_node shape);

// `folderHex`: the entry ID of the folder that holds the item, when known.
void WriteItem(pugi::xml_node parent, RDOMail& mail, int mailbox, pugi::xml_node shape,
               const std::string& folderHex);

void PageAttributes(pugi::xml_node root, int offset, int returned, int total);

void ReadView(pugi::xml_node op, const char* view, int* offset, int* max);

int32_t TagOfField(pugi::xml_node path, MAPIProp* obj);

// An EWS restriction as the table filter's restriction; false when it holds something else.
bool BuildRestriction(pugi::xml_node expr, RDORestriction& r, MAPIProp* namer);

std::function<std::shared_ptr<RDOSession>(int)> Opener(
    StoreEndpoint* self, std::shared_ptr<RDOSession> (StoreEndpoint::*f)(int));

int MailboxOfRef(pugi::xml_node ref, int fallback,
                 const std::function<int(const std::string&)>& index);

}  // namespace endpoint

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
    if (oa::Err().Pending()) {
      Fail(endpoint::CodeFor(oa::Err().Number()), oa::Err().Description());
    } else {
      Fail("ErrorItemNotFound", fallback);
    }
  }
};

#define OA_OPEN_FOLDER(node)                                                         \
  OpenFolder(node,                                                                   \
             MailboxOfRef(node, c.defaultMailbox,                                    \
                          [this](const std::string& a) { return MailboxIndex(a); }), \
             Opener(this, &StoreEndpoint::Session))

}  // namespace oa::ews::testing
