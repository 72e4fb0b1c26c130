#include "console/nowindow/nowindow_console.h"

#include "base/utf8.h"
#include "console/form.h"
#include "console/nowindow/cancel_signals.h"

namespace oa::nowindow {
namespace {

// A label repainted for every deleted item would flood a slow terminal.
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
constexpr const char* kEraseLine = "\r\x1b[K";

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, format, value);
  out += buf;
}

}  // namespace

std::string TerminalSafe(const std::string& text) {
  std::string safe;
  safe.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    // Line breaks of a multi-line text (LF, CR LF) and tabs move no cursor anywhere harmful;
    // a lone CR would let a text overwrite what the line showed before it.
    const bool lineBreak =
        c == '\n' || c == '\t' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    if ((c < 0x20 && !lineBreak) || c == 0x7F) {
      AppendEscape(safe, "\\x%02x", c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      safe += static_cast<char>(c);
      ++i;
      continue;
    }
    char32_t code = 0;
    const size_t length = Utf8SequenceAt(text, i, &code);
    if (length == 0) {
      AppendEscape(safe, "\\x%02x", c);
      ++i;
    } else if (code <= 0x9F) {
      AppendEscape(safe, "\\u%04x", static_cast<unsigned>(code));
      i += length;
    } else {
      safe.append(text, i, length);
      i += length;
    }
  }
  return safe;
}

NoWindowConsole::NoWindowConsole(std::FILE* out, std::FILE* err, bool errIsTerminal)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal) {}

void NoWindowConsole::HandlePendingSignal() {
  if (cancelled_ || !form_ || !CancelSignalPending()) return;
  // Set first: Cancel lets events run again, and they must not press it a second time.
  cancelled_ = true;
  form_->cmdCancel_Click();
}

void NoWindowConsole::EraseProgress() {
  if (!progressShown_) return;
  std::fputs(kEraseLine, err_);
  std::fflush(err_);
  progressShown_ = false;
}

void NoWindowConsole::ProgressLine(const std::string& line) {
  if (!errIsTerminal_) return;
  EraseProgress();
  std::fprintf(err_, "%s\n", TerminalSafe(line).c_str());
  std::fflush(err_);
}

std::string NoWindowConsole::Text(Control control) {
  auto it = texts_.find(control);
  return it == texts_.end() ? std::string() : it->second;
}

void NoWindowConsole::SetText(Control control, const std::string& text) {
  texts_[control] = text;
}

int NoWindowConsole::Value(Control control) {
  // The Handhelds action is the only one and always chosen.
  return control == Control::chkHH ? 1 : 0;
}

void NoWindowConsole::ClearResults() {
  lastLine_.clear();
  if (heading_) WriteOut("=== " + *heading_);
}

void NoWindowConsole::AppendResult(const std::string& line) {
  lastLine_ = line;
  WriteOut(line);
}

void NoWindowConsole::SetProgress(const std::string& caption) {
  if (!errIsTerminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (progressShown_ && now - lastProgress_ < kProgressInterval) return;
  std::fprintf(err_, "\r%s\x1b[K", TerminalSafe(caption).c_str());
  std::fflush(err_);
  progressShown_ = true;
  lastProgress_ = now;
}

void NoWindowConsole::MsgBox(const std::string& text) {
  EraseProgress();
  std::string line = TerminalSafe(std::string(kMsgBoxTitle) + ": " + text) + "\n";
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

void NoWindowConsole::WriteOut(const std::string& line) {
  EraseProgress();
  const std::string safe = TerminalSafe(line);
  std::fwrite(safe.data(), 1, safe.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace oa::nowindow
