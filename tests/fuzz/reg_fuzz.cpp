// libFuzzer entry over the registry export file reader: any bytes must be read without a
// crash, leak or undefined behaviour, and what was read must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/reg_file.h"

namespace {

using oa::settings::regfile::Key;

// Every key of the tree is found again by its path, and the tree stays within the depth limit.
void Walk(const Key& root, const Key& key, const std::string& path, std::size_t depth) {
  if (depth > 512 || root.Find(path) != &key) std::abort();
  for (const auto& [name, child] : key.subkeys) {
    if (!child || name != oa::settings::regfile::Fold(name)) std::abort();
    Walk(root, *child, path.empty() ? name : path + "\\" + name, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  using oa::settings::regfile::Hive;
  for (Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
    Key root;
    const auto result = oa::settings::regfile::ReadRegFile(bytes, hive, root);
    std::size_t last = 0;
    for (const auto& skipped : result.skipped) {
      if (skipped.line < last || skipped.line == 0 || skipped.reason.empty()) std::abort();
      last = skipped.line;
    }
    if (!result.registryFile && (!root.subkeys.empty() || !result.skipped.empty())) std::abort();
    Walk(root, root, "", 0);
  }
  return 0;
}
