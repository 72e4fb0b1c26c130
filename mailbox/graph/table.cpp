// The contents table and its filter: the restriction as a $filter on the folder's messages, rows
// read a page at a time by @odata.nextLink.
#include "base/mapi_error.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/restriction_tree.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;
using oa::mailbox::Err;

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

bool IsEntryIdColumn(int32_t tag) {
  return tag == PR_LONGTERM_ENTRYID_FROM_TABLE || tag == PR_ENTRYID;
}

class GraphTable : public oa::mailbox::MAPITable,
                   public oa::mailbox::RestrictionSearch,
                   public std::enable_shared_from_this<GraphTable> {
 public:
  GraphTable(std::shared_ptr<Core> core, std::string folderId)
      : core_(std::move(core)), folderId_(std::move(folderId)) {}
  bool SetColumns(const std::vector<int32_t>& propTags) override {
    if (!core_->Alive()) return false;
    columns_ = propTags;
    return true;
  }
  VariantArray GetRow() override;
  std::shared_ptr<oa::mailbox::RDOTableFilter> Filter() override;

  bool Find(const std::shared_ptr<Node>& restriction, bool next) override;
  void ClearPosition() override {
    rows_.clear();
    position_ = -1;
    nextLink_.clear();
  }

 private:
  bool LoadPage(const std::string& url);
  std::vector<int32_t> Extra() const {
    std::vector<int32_t> extra;
    for (int32_t tag : columns_)
      if (tag != PR_SUBJECT && tag != PR_MESSAGE_CLASS && tag != PR_CREATION_TIME &&
          !IsEntryIdColumn(tag))
        extra.push_back(tag);
    return extra;
  }

  std::shared_ptr<Core> core_;
  std::string folderId_;
  std::vector<int32_t> columns_;
  std::vector<MailData> rows_;
  std::string nextLink_;
  int32_t position_ = -1;
};

std::shared_ptr<oa::mailbox::RDOTableFilter> GraphTable::Filter() {
  if (!core_->Alive()) return nullptr;
  return oa::mailbox::NewTreeFilter(shared_from_this(), oa::mailbox::MemberKinds::AndOr);
}

bool GraphTable::LoadPage(const std::string& url) {
  auto r = core_->Call("GET", url);
  if (!r) return false;
  rows_.clear();
  for (const json& m : r->value("value", json::array())) {
    if (!m.is_object()) continue;
    rows_.push_back(core_->TakeMail(m, folderId_));
  }
  nextLink_ = r->value("@odata.nextLink", "");
  return true;
}

bool GraphTable::Find(const std::shared_ptr<Node>& restriction, bool next) {
  if (!core_->Alive()) return false;
  if (!next || position_ < 0) {
    ClearPosition();
    std::string url = core_->User("/mailFolders/" + UrlEncode(folderId_) + "/messages?$top=100&" +
                                  Core::MailQuery(Extra()));
    if (restriction) {
      auto filter = FilterText(*restriction);
      if (!filter) return false;
      url += "&$filter=" + UrlEncode(*filter);
    }
    if (!LoadPage(url)) return false;
    position_ = 0;
    return !rows_.empty();
  }
  ++position_;
  if (position_ < static_cast<int32_t>(rows_.size())) return true;
  if (nextLink_.empty()) {
    position_ = static_cast<int32_t>(rows_.size());
    return false;
  }
  if (!LoadPage(nextLink_)) return false;
  position_ = 0;
  return !rows_.empty();
}

VariantArray GraphTable::GetRow() {
  if (!core_->Alive()) return {};
  if (position_ < 0 || position_ >= static_cast<int32_t>(rows_.size())) return {};
  const MailData& row = rows_[static_cast<size_t>(position_)];
  VariantArray values;
  for (int32_t tag : columns_) {
    if (IsEntryIdColumn(tag)) {
      // Read with the row: a mailbox message's entry ID is its long-term one.
      auto bytes = row.entryID ? HexDecode(*row.entryID) : std::nullopt;
      values.push_back(bytes ? Variant::Binary(*bytes) : Variant());
    } else if (tag == PR_SUBJECT) {
      values.push_back(row.subject ? Variant::String(*row.subject) : Variant());
    } else if (tag == PR_MESSAGE_CLASS) {
      values.push_back(row.itemClass ? Variant::String(*row.itemClass) : Variant());
    } else if (tag == PR_CREATION_TIME) {
      values.push_back(row.created ? Variant::FromDate(*row.created) : Variant());
    } else {
      auto it = row.props.find(tag);
      values.push_back(it == row.props.end() ? Variant() : it->second);
    }
  }
  return values;
}

}  // namespace

std::shared_ptr<oa::mailbox::MAPITable> GraphItems::MAPITable() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphTable>(core_, folderId_);
}

}  // namespace oa::graph
