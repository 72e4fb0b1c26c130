// libFuzzer entry over entry-ID text and bytes: whatever parses must print back to the same
// text (upper-cased) and encode back to the same bytes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mailbox/store/entry_id.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oa::store;
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (const auto id = ParseEntryIdText(text)) {
    if (EntryIdText(*id) != Upper(text)) std::abort();
    if (ParseEntryIdText(EntryIdText(*id)) != id) std::abort();
  }
  if (const auto bytes = oa::HexDecode(text)) {
    if (bytes->size() * 2 != text.size() || oa::HexEncode(*bytes) != Upper(text)) std::abort();
  }

  const std::vector<std::uint8_t> bytes(data, data + size);
  if (const auto id = DecodeEntryId(bytes)) {
    if (bytes.size() != kEntryIdBytes || EncodeEntryId(*id) != bytes) std::abort();
    if (ParseEntryIdText(oa::HexEncode(bytes)) != id) std::abort();
  }
  return 0;
}
