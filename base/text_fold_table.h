// The case folding table behind base/text_fold.h (generated: base/text_fold_table.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace oa::text {

struct FoldRange {
  char32_t first;
  char32_t last;
  int32_t delta;
  uint8_t stride;  // 1: every code point in the range; 2: every other one, from `first`
};

// Sorted by `first`, not overlapping.
extern const FoldRange kFoldRanges[];
extern const std::size_t kFoldRangeCount;

}  // namespace oa::text
