#include "mailbox/model/restriction_tree.h"

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {

using namespace ConstMAPI;

namespace {

class TreeRestriction : public RDORestriction {
 public:
  TreeRestriction(std::shared_ptr<RestrictionNode> node, MemberKinds parents)
      : node_(std::move(node)), parents_(parents) {}
  int32_t Kind() override { return node_->kind; }
  std::shared_ptr<RDORestriction> Add(int32_t kind) override {
    const bool withNot = parents_ == MemberKinds::AndOrNot;
    const int32_t k = node_->kind;
    if (k != RES_AND && k != RES_OR && !(withNot && k == RES_NOT)) {
      Err().Raise(MAPI_E_INVALID_PARAMETER, withNot
                                                ? "Only AND, OR and NOT restrictions have members."
                                                : "Only AND and OR restrictions have members.");
      return nullptr;
    }
    auto child = std::make_shared<RestrictionNode>();
    child->kind = kind;
    node_->members.push_back(child);
    return std::make_shared<TreeRestriction>(child, parents_);
  }
  void SetPropTag(int32_t tag) override { node_->tag = tag; }
  void SetFuzzyLevel(int32_t level) override { node_->fuzzy = level; }
  void SetProp(const Variant& value) override { node_->value = value; }

 private:
  std::shared_ptr<RestrictionNode> node_;
  MemberKinds parents_;
};

class TreeFilter : public RDOTableFilter {
 public:
  TreeFilter(std::shared_ptr<RestrictionSearch> table, MemberKinds parents)
      : table_(std::move(table)), parents_(parents) {}
  std::shared_ptr<RDORestriction> SetKind(int32_t kind) override {
    root_ = std::make_shared<RestrictionNode>();
    root_->kind = kind;
    return std::make_shared<TreeRestriction>(root_, parents_);
  }
  bool FindFirst(bool) override { return table_->Find(root_, false); }
  bool FindNext(bool) override { return table_->Find(root_, true); }
  void Reset() override {
    root_.reset();
    table_->ClearPosition();
  }

 private:
  std::shared_ptr<RestrictionSearch> table_;
  MemberKinds parents_;
  std::shared_ptr<RestrictionNode> root_;
};

}  // namespace

std::shared_ptr<RDOTableFilter> NewTreeFilter(std::shared_ptr<RestrictionSearch> table,
                                              MemberKinds parents) {
  return std::make_shared<TreeFilter>(std::move(table), parents);
}

}  // namespace oa::mailbox
