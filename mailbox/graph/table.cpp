// The contents table and its filter: the restriction as a $filter on the folder's messages, rows
// read a page at a time by @odata.nextLink.
#include "base/mapi_error.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/restriction_tree.h"
#include "mailbox/remote/row_cursor.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;

namespace {

using Node = oa::mailbox::RestrictionNode;

std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// Exchange compares strings in $filter without regard to case, as FL_IGNORECASE asks.
std::optional<std::string> FilterText(const Node& node) {
  switch (node.kind) {
    case RES_AND:
    case RES_OR: {
      if (node.members.empty()) break;
      std::string out;
      for (const auto& m : node.members) {
        auto part = FilterText(*m);
        if (!part) return std::nullopt;
        out += (out.empty() ? "" : node.kind == RES_AND ? " and " : " or ") + ("(" + *part + ")");
      }
      return out;
    }
    case RES_CONTENT: {
      auto text = ValueText(node.value, node.tag);
      if (!text) break;
      const int32_t mode = node.fuzzy & 0xFFFF;
      if (node.tag == PR_SUBJECT) {
        if (mode == FL_SUBSTRING) return "contains(subject," + Literal(*text) + ")";
        if (mode == FL_PREFIX) return "startswith(subject," + Literal(*text) + ")";
        return "subject eq " + Literal(*text);
      }
      const std::string id = ExtendedPropertyId(node.tag);
      if (id.empty() || mode != FL_FULLSTRING) break;
      return "singleValueExtendedProperties/any(ep: ep/id eq " + Literal(id) + " and ep/value eq " +
             Literal(*text) + ")";
    }
    default:
      break;
  }
  Err().Raise(MAPI_E_NO_SUPPORT, "The restriction cannot be sent to the service.");
  return std::nullopt;
}

class GraphTable : public remote::RowCursor<MailData>,
                   public std::enable_shared_from_this<GraphTable> {
 public:
  GraphTable(std::shared_ptr<Core> core, std::string folderId)
      : core_(std::move(core)), folderId_(std::move(folderId)) {}
  std::shared_ptr<oa::mailbox::RDOTableFilter> Filter() override {
    if (!core_->Alive()) return nullptr;
    return oa::mailbox::NewTreeFilter(shared_from_this(), oa::mailbox::MemberKinds::AndOr);
  }

 private:
  bool Alive() override { return core_->Alive(); }
  bool ReadFirst(const std::shared_ptr<Node>& restriction, std::vector<MailData>& rows) override {
    std::string url = core_->User("/mailFolders/" + UrlEncode(folderId_) + "/messages?$top=100&" +
                                  Core::MailQuery(Extra()));
    if (restriction) {
      auto filter = FilterText(*restriction);
      if (!filter) return false;
      url += "&$filter=" + UrlEncode(*filter);
    }
    return LoadPage(url, rows);
  }
  bool MorePages() const override { return !nextLink_.empty(); }
  bool ReadNext(std::vector<MailData>& rows) override { return LoadPage(nextLink_, rows); }
  void ForgetPages() override { nextLink_.clear(); }
  Variant EntryIdOf(size_t index) override {
    // Read with the row: a mailbox message's entry ID is its long-term one.
    const MailData& row = rows()[index];
    auto bytes = row.entryID ? HexDecode(*row.entryID) : std::nullopt;
    return bytes ? Variant::Binary(*bytes) : Variant();
  }

  bool LoadPage(const std::string& url, std::vector<MailData>& rows) {
    auto r = core_->Call("GET", url);
    if (!r) return false;
    rows.clear();
    for (const json& m : r->value("value", json::array())) {
      if (!m.is_object()) continue;
      rows.push_back(core_->TakeMail(m, folderId_));
    }
    nextLink_ = r->value("@odata.nextLink", "");
    return true;
  }
  std::vector<int32_t> Extra() const {
    std::vector<int32_t> extra;
    for (int32_t tag : columns())
      if (tag != PR_SUBJECT && tag != PR_MESSAGE_CLASS && tag != PR_CREATION_TIME &&
          !remote::IsEntryIdColumn(tag))
        extra.push_back(tag);
    return extra;
  }

  std::shared_ptr<Core> core_;
  std::string folderId_;
  std::string nextLink_;
};

}  // namespace

std::shared_ptr<oa::mailbox::MAPITable> GraphItems::MAPITable() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphTable>(core_, folderId_);
}

}  // namespace oa::graph
