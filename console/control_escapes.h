// Control characters of a text shown as escapes, so that a text from a server (an error text, a
// mailbox or folder name) can neither drive a terminal nor forge a line of the activity log.
#pragma once

#include <string>

namespace oa::console {

enum class LineBreaks {
  // LF, CR LF and tabs stay (a multi-line text on a terminal): they move no cursor anywhere
  // harmful. A lone CR would let a text overwrite what the line showed before it.
  Keep,
  // Every line break is escaped too (a log file line, which a line break would end early).
  // Tabs stay.
  Escape,
};

// `text` with C0 controls, ESC and DEL as "\xHH", C1 controls (U+0080 to U+009F) as "\u00HH"
// and every byte that is not part of well-formed UTF-8 as "\xHH". Printable text in any script
// is kept as it is.
std::string EscapeControls(const std::string& text, LineBreaks lineBreaks);

}  // namespace oa::console
