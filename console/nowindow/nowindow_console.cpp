#include "console/nowindow/nowindow_console.h"

#include "console/control_escapes.h"
#include "console/form.h"
#include "console/nowindow/cancel_signals.h"

namespace oa::nowindow {

using console::Control;
using console::EscapeControls;
using console::kMsgBoxTitle;
using console::LineBreaks;

namespace {

// A label repainted for every deleted item would flood a slow terminal.
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
constexpr const char* kEraseLine = "\r\x1b[K";

}  // namespace

std::string TerminalSafe(const std::string& text) {
  return EscapeControls(text, LineBreaks::Keep);
}

NoWindowConsole::NoWindowConsole(std::FILE* out, std::FILE* err, bool errIsTerminal)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal) {}

NoWindowConsole::NoWindowConsole(std::string* out, std::FILE* err, bool errIsTerminal)
    : outText_(out), err_(err), errIsTerminal_(errIsTerminal) {}

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

void NoWindowConsole::LogNotWritten(const std::string& text) {
  EraseProgress();
  std::string line = TerminalSafe(text);
  if (!line.empty() && line[0] >= 'A' && line[0] <= 'Z')
    line[0] = static_cast<char>(line[0] - 'A' + 'a');
  line = "oa-cleanup: " + line + "\n";
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

void NoWindowConsole::WriteOut(const std::string& line) {
  EraseProgress();
  const std::string safe = TerminalSafe(line);
  if (outText_) {
    outText_->append(safe).push_back('\n');
    return;
  }
  std::fwrite(safe.data(), 1, safe.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace oa::nowindow
