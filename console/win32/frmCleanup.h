// The cleanup window as a plain Win32 window: the nine controls of the grid, laid out in twips
// at the DPI of the monitor it is on, driving the core Form. Keyboard handling goes through
// IsDialogMessage, so Tab, the access keys and the check box behave as in a dialog.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "console/activity_log.h"
#include "console/console.h"
#include "console/form.h"
#include "console/layout.h"

struct HWND__;

namespace oa::win32 {

class frmCleanup : public console::Console {
 public:
  // Creates the window hidden, at its start size for the DPI it lands on.
  explicit frmCleanup(console::ActivityLog log);
  ~frmCleanup() override;
  frmCleanup(const frmCleanup&) = delete;
  frmCleanup& operator=(const frmCleanup&) = delete;

  // False when the window system refused the window (no desktop); nothing else works then.
  bool Created() const;
  console::Form& form();

  // Fills the boxes from the registry; call before Show.
  void Load();
  // Shows the window (a ShowWindow command) with the focus on cmdOK.
  void Show(int showCommand);
  // Whether the window has been unloaded (Cancel or the frame's close).
  bool Closed() const;

  HWND__* Handle() const;
  HWND__* Handle(console::Control c) const;
  int Dpi() const;
  // Where the layout has put a control, in twips.
  const console::Geometry& TwipGeometry(console::Control c) const;
  // The results box text as the core wrote it: every line ended by CR LF.
  std::string ResultsText() const;

  // When set, takes the message boxes instead of the modal box, so that tests need not answer.
  std::function<void(const std::string&)> showMessageBox;

  // Console
  std::string Text(console::Control control) override;
  void SetText(console::Control control, const std::string& text) override;
  int Value(console::Control control) override;
  void SetFocus(console::Control control) override;
  void ClearResults() override;
  void AppendResult(const std::string& line) override;
  void RepaintResults() override;
  void SetProgress(const std::string& caption) override;
  void DoEvents() override;
  void MsgBox(const std::string& text) override;
  void CloseWindow() override;

 private:
  struct Impl;
  // The window goes before the form: messages sent while it is destroyed still find the form.
  std::unique_ptr<console::Form> form_;
  std::unique_ptr<Impl> impl_;
};

// Runs the message loop (messages through IsDialogMessage) until the window has been unloaded;
// returns the program's exit status.
int MessageLoop(frmCleanup& window);

}  // namespace oa::win32
