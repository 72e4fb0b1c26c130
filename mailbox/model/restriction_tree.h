// A contents-table filter for backends that translate the whole restriction at once (a server
// query): the restriction is kept as a tree as it is built, and handed to the table to search.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/variant.h"
#include "mailbox/model/rdo.h"

namespace oa::mailbox {

struct RestrictionNode {
  int32_t kind = 0;
  int32_t tag = 0;
  int32_t fuzzy = 0;
  Variant value;
  std::vector<std::shared_ptr<RestrictionNode>> members;
};

// The table side: searches with a finished tree.
class RestrictionSearch {
 public:
  virtual ~RestrictionSearch() = default;
  // Positions the table on the first (next) row that matches; false when there is none.
  virtual bool Find(const std::shared_ptr<RestrictionNode>& root, bool next) = 0;
  virtual void ClearPosition() = 0;
};

// Which restrictions may have members; a member added to any other fails with
// MAPI_E_INVALID_PARAMETER.
enum class MemberKinds { AndOr, AndOrNot };

std::shared_ptr<RDOTableFilter> NewTreeFilter(std::shared_ptr<RestrictionSearch> table,
                                              MemberKinds parents);

}  // namespace oa::mailbox
