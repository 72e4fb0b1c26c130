// The contents table and its filter: FindItem with the restriction, a page of rows at a time.
#include <algorithm>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/read_cache.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;
using Node = oa::mailbox::RestrictionNode;
using remote::IsEntryIdColumn;

namespace {

constexpr int32_t kRowsPerPage = 100;
// Texts of this length or more in a listing may have been cut short by the server.
constexpr size_t kListedTextLimit = 255;

void AppendFieldPath(pugi::xml_node parent, int32_t tag, NamedPropMap& named) {
  if (tag == PR_SUBJECT) {
    parent.append_child("t:FieldURI").append_attribute("FieldURI") = "item:Subject";
  } else if (tag == PR_MESSAGE_CLASS) {
    parent.append_child("t:FieldURI").append_attribute("FieldURI") = "item:ItemClass";
  } else {
    AppendPropertyPath(parent, tag, named);
  }
}

const char* Comparison(int32_t fuzzy) {
  const bool ignoreCase = fuzzy & FL_IGNORECASE;
  const bool nonSpace = fuzzy & FL_IGNORENONSPACE;
  if (fuzzy & FL_LOOSE) return "Loose";
  if (ignoreCase && nonSpace) return "IgnoreCaseAndNonSpacingCharacters";
  if (ignoreCase) return "IgnoreCase";
  if (nonSpace) return "IgnoreNonSpacingCharacters";
  return "Exact";
}

const char* Mode(int32_t fuzzy) {
  switch (fuzzy & 0xFFFF) {
    case FL_SUBSTRING:
      return "Substring";
    case FL_PREFIX:
      return "Prefixed";
    default:
      return "FullString";
  }
}

bool AppendRestriction(pugi::xml_node parent, const Node& node, NamedPropMap& named) {
  switch (node.kind) {
    case RES_AND:
    case RES_OR:
    case RES_NOT: {
      if (node.members.empty() || (node.kind == RES_NOT && node.members.size() != 1)) break;
      auto group = parent.append_child(node.kind == RES_AND  ? "t:And"
                                       : node.kind == RES_OR ? "t:Or"
                                                             : "t:Not");
      for (const auto& m : node.members) {
        if (!AppendRestriction(group, *m, named)) return false;
      }
      return true;
    }
    case RES_CONTENT: {
      auto text = ValueText(node.value, node.tag);
      if (!text) break;
      auto contains = parent.append_child("t:Contains");
      contains.append_attribute("ContainmentMode") = Mode(node.fuzzy);
      contains.append_attribute("ContainmentComparison") = Comparison(node.fuzzy);
      AppendFieldPath(contains, node.tag, named);
      contains.append_child("t:Constant").append_attribute("Value") = text->c_str();
      return true;
    }
    default:
      break;
  }
  Err().Raise(MAPI_E_NO_SUPPORT, "The restriction cannot be sent to the server.");
  return false;
}

}  // namespace

std::shared_ptr<oa::mailbox::RDOTableFilter> EwsTable::Filter() {
  if (!core_->Alive()) return nullptr;
  return oa::mailbox::NewTreeFilter(shared_from_this(), oa::mailbox::MemberKinds::AndOrNot);
}

void EwsTable::ForgetPages() {
  rowEntryIDs_.clear();
  morePages_ = false;
}

bool EwsTable::ReadFirst(const std::shared_ptr<Node>& restriction, std::vector<ItemData>& rows) {
  restriction_ = restriction;
  return LoadPage(0, rows);
}

bool EwsTable::ReadNext(std::vector<ItemData>& rows) {
  return LoadPage(pageOffset_ + static_cast<int32_t>(rows.size()), rows);
}

bool EwsTable::LoadPage(int32_t offset, std::vector<ItemData>& rows) {
  std::vector<int32_t> extra;
  bool basics = false;
  bool entryIDs = false;
  for (int32_t tag : columns()) {
    if (tag == PR_SUBJECT || tag == PR_MESSAGE_CLASS || tag == PR_CREATION_TIME) {
      basics = true;
    } else if (IsEntryIdColumn(tag)) {
      entryIDs = true;
    } else {
      extra.push_back(tag);
    }
  }
  // What opening a row's message reads next comes with the rows: a mailbox message's entry ID
  // (no ConvertId then) and the named properties the session knows.
  std::vector<int32_t> asked = extra;
  if (!folder_.isPublic) {
    if (entryIDs) asked.push_back(PR_ENTRYID);
    for (int32_t tag : core_->named().AllStringTags())
      if (std::find(asked.begin(), asked.end(), tag) == asked.end()) asked.push_back(tag);
  }
  auto req = core_->NewRequest("FindItem");
  req->op().append_attribute("Traversal") = "Shallow";
  // The columns asked for, and the folder of public folder items for their entry IDs.
  core_->AppendItemShape(req->op(), asked, basics, folder_.isPublic);
  auto view = req->op().append_child("m:IndexedPageItemView");
  view.append_attribute("MaxEntriesReturned") = kRowsPerPage;
  view.append_attribute("Offset") = offset;
  view.append_attribute("BasePoint") = "Beginning";
  if (restriction_ &&
      !AppendRestriction(req->op().append_child("m:Restriction"), *restriction_, core_->named()))
    return false;
  core_->AppendFolderId(req->op().append_child("m:ParentFolderIds"), folder_);
  auto r = core_->SendOne(*req);
  if (!r) return false;
  auto root = Child(r->messages.front().node, "RootFolder");
  rows.clear();
  rowEntryIDs_.clear();
  for (auto e = Child(root, "Items").first_child(); e; e = e.next_sibling()) {
    if (e.type() != pugi::node_element) continue;
    rows.push_back(core_->ReadItem(e, folder_.isPublic, asked));
    ItemData& row = rows.back();
    if (auto id = row.props.find(PR_ENTRYID); id != row.props.end()) {
      if (id->second.IsArray()) {
        std::vector<uint8_t> bytes;
        for (const Variant& b : id->second.AsArray()) bytes.push_back(b.AsByte());
        core_->NoteEntryID(row.id, bytes);
      }
      row.props.erase(id);
    }
    if (!basics) continue;
    // A listing may cut long texts short; those are read from the message itself.
    ItemData kept = row;
    for (auto it = kept.props.begin(); it != kept.props.end();) {
      const bool cut = it->second.type() == Variant::Type::String &&
                       it->second.AsString().size() >= kListedTextLimit;
      it = cut ? kept.props.erase(it) : std::next(it);
    }
    core_->cache().PutItem(kept, folder_.id);
  }
  pageOffset_ = offset;
  morePages_ = Attr(root, "IncludesLastItemInRange") == "false" && !rows.empty();
  return true;
}

Variant EwsTable::EntryIdOf(size_t index) {
  // The page's entry IDs in one ConvertId, when the first of them is asked for.
  if (rowEntryIDs_.empty()) {
    std::vector<std::string> ids;
    for (const auto& r : rows()) ids.push_back(r.id);
    rowEntryIDs_ = core_->HexFromEws(ids, folder_.isPublic);
  }
  const auto& hex = rowEntryIDs_[index];
  auto bytes = hex ? HexDecode(*hex) : std::nullopt;
  return bytes ? Variant::Binary(*bytes) : Variant();
}

}  // namespace oa::ews
