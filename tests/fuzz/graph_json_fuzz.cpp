// libFuzzer entry over how the Graph backend reads an answer: the bounded parse either refuses
// the text or gives a document, and the error reading of any answer body names a description.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mailbox/graph/bounded_json.h"
#include "mailbox/graph/client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto doc = oa::graph::ParseBoundedJson(text, &error);
  if (!oa::graph::JsonWithinDepth(text) && (!doc.is_discarded() || error.empty())) std::abort();
  if (!doc.is_discarded() && doc.dump().empty()) std::abort();

  for (long status : {400L, 401L, 429L, 503L}) {
    oa::http::HttpResult r;
    r.status = status;
    r.body = text;
    const auto e = oa::graph::ErrorFor(r, "the fuzz service");
    if (e.number == 0) std::abort();
  }
  return 0;
}
