// libFuzzer entry over the dump importer: any document is either refused with a message and
// no store file, or imported into a store file that exports and imports again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "mailbox/store/dump.h"

namespace {

// Filler counts beyond this only make the run slow, not the importer more exercised.
constexpr long kMaxItems = 200;

bool TooManyItems(const nlohmann::json& node) {
  if (node.is_object()) {
    const auto items = node.find("items");
    if (items != node.end() && items->is_number() && items->get<double>() > kMaxItems) return true;
  }
  if (node.is_object() || node.is_array()) {
    for (const auto& child : node) {
      if (TooManyItems(child)) return true;
    }
  }
  return false;
}

// Removed again when the fuzzer exits.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char pattern[] = "/tmp/dump-fuzz-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const std::filesystem::path& WorkDir() {
  static const TempDir dir;
  return dir.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto doc = nlohmann::json::parse(text, nullptr, false);
  if (!doc.is_discarded() && TooManyItems(doc)) return -1;

  const std::string store = (WorkDir() / "store.db").string();
  std::error_code ec;
  std::filesystem::remove(store, ec);

  std::string error;
  if (!oa::store::ImportDump(text, store, &error)) {
    if (error.empty() || std::filesystem::exists(store)) std::abort();
    return 0;
  }
  if (doc.is_discarded()) std::abort();

  std::ostringstream first;
  if (!oa::store::ExportDump(store, first, -1, &error)) std::abort();
  const std::string again = (WorkDir() / "again.db").string();
  if (!oa::store::ImportDump(first.str(), again, &error)) std::abort();
  std::ostringstream second;
  if (!oa::store::ExportDump(again, second, -1, &error)) std::abort();
  if (nlohmann::json::parse(first.str()) != nlohmann::json::parse(second.str())) std::abort();
  std::filesystem::remove(again, ec);
  return 0;
}
