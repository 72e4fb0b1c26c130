// What the core needs of a window: the boxes, the results box, the progress label, message
// boxes and event processing. The Qt window and the window-less mode both implement it; the
// core never sees a toolkit.
#pragma once

#include <string>

namespace oa::console {

// The controls of the cleanup window, by their names.
enum class Control {
  txtResult,
  txtExServer,
  txtAlias,
  chkHH,
  cmdCancel,
  cmdOK,
  lblProgress,
  Label2,
  Label1,
};

class Console {
 public:
  virtual ~Console() = default;

  // Text of txtExServer or txtAlias, read at the moment it is asked for.
  virtual std::string Text(Control control) = 0;
  virtual void SetText(Control control, const std::string& text) = 0;
  // Value of chkHH: 0 unticked, 1 ticked.
  virtual int Value(Control control) = 0;
  virtual void SetFocus(Control control) = 0;

  // The results box.
  virtual void ClearResults() = 0;
  // Appends a line to the results box: the text is given without its line end.
  virtual void AppendResult(const std::string& line) = 0;
  virtual void RepaintResults() = 0;

  // The caption of lblProgress, repainted at once.
  virtual void SetProgress(const std::string& caption) = 0;

  // Lets the window system process pending events once.
  virtual void DoEvents() = 0;
  // Whether the last DoEvents handled the user's input (a click, a key, a close): the run
  // paused for it.
  virtual bool HandledInput() { return false; }

  // The activity log cannot be written (`text` names the file and why); called once. A window
  // shows it as a line of the results box.
  virtual void LogNotWritten(const std::string& text) { AppendResult(text); }

  // Application-modal, critical icon, one OK button, title "ondavelAgent Administrator".
  virtual void MsgBox(const std::string& text) = 0;

  // The window goes away (unload). Called once.
  virtual void CloseWindow() = 0;
};

inline constexpr const char* kMsgBoxTitle = "ondavelAgent Administrator";

}  // namespace oa::console
