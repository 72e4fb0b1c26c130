// The console of a run without a window: results box lines to standard output, message boxes
// and the progress label to standard error, and Ctrl+C or SIGTERM as a click on Cancel.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "console/console.h"

namespace oa::console {
class Form;
}

namespace oa::nowindow {

// `text` with every control character shown as an escape, so that a text from a server (an
// error text, a mailbox or folder name) cannot drive the terminal: C0 controls, ESC and DEL
// become "\xHH" (save the line breaks of a multi-line text, LF and CR LF, and tabs), C1 controls
// (U+0080 to U+009F) "\u00HH", and a byte that is not part of well-formed UTF-8 "\xHH". Printable
// text in any script is kept as it is.
std::string TerminalSafe(const std::string& text);

class NoWindowConsole : public console::Console {
 public:
  // `errIsTerminal`: the progress label is only worth showing on a terminal.
  NoWindowConsole(std::FILE* out, std::FILE* err, bool errIsTerminal);
  // The results box lines appended to `*out` instead: a job of a batch prints its mailbox's
  // lines together once the mailbox is done. (A temporary file would not do: the C runtime of
  // Windows makes it in the root folder, where only an administrator may write.)
  NoWindowConsole(std::string* out, std::FILE* err, bool errIsTerminal);

  // The form whose Cancel a signal presses.
  void Attach(console::Form& form) { form_ = &form; }
  // In a batch the results box clearing is shown as "=== " and the mailbox.
  void SetHeading(std::optional<std::string> mailbox) { heading_ = std::move(mailbox); }

  // Forgets what the previous run showed.
  void BeginRun() { lastLine_.clear(); }
  // The last results box line of the run, for the report.
  const std::string& lastLine() const { return lastLine_; }
  // True once a signal has been turned into a click on Cancel.
  bool CancelledBySignal() const { return cancelled_; }
  // Presses Cancel if a signal has arrived and Cancel has not been pressed yet.
  void HandlePendingSignal();
  // Takes the progress line off the terminal.
  void EraseProgress();
  // A batch's line for a finished mailbox, kept on the terminal (nothing elsewhere).
  void ProgressLine(const std::string& line);

  std::string Text(console::Control control) override;
  void SetText(console::Control control, const std::string& text) override;
  int Value(console::Control control) override;
  void SetFocus(console::Control) override {}
  void ClearResults() override;
  void AppendResult(const std::string& line) override;
  void RepaintResults() override {}
  void SetProgress(const std::string& caption) override;
  void DoEvents() override { HandlePendingSignal(); }
  void MsgBox(const std::string& text) override;
  // To standard error, which a script keeps apart from the run's lines.
  void LogNotWritten(const std::string& text) override;
  void CloseWindow() override { EraseProgress(); }

 private:
  void WriteOut(const std::string& line);

  std::FILE* out_ = nullptr;
  std::string* outText_ = nullptr;
  std::FILE* err_;
  bool errIsTerminal_;
  console::Form* form_ = nullptr;
  std::map<console::Control, std::string> texts_;
  std::optional<std::string> heading_;
  std::string lastLine_;
  bool cancelled_ = false;
  bool progressShown_ = false;
  std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace oa::nowindow
