// Case folding for comparisons "without regard to case" of folder names, aliases and
// restriction values: UTF-8 in, UTF-8 out, lower case by the Unicode tables of C.UTF-8.
#pragma once

#include <string>

namespace oa::store {

std::string FoldCase(const std::string& utf8);

}  // namespace oa::store
