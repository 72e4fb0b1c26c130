// A console for driving the core without a window: boxes with settable texts, and a record of
// every results box line, progress caption, message box and focus move. Hooks let a test act
// at an event-processing point (as a click on Cancel would arrive).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "console/console.h"

namespace oa::testing {

class RecordingConsole : public console::Console {
 public:
  std::string Text(console::Control c) override { return texts[c]; }
  void SetText(console::Control c, const std::string& t) override { texts[c] = t; }
  int Value(console::Control c) override { return c == console::Control::chkHH ? chkHH : 0; }
  void SetFocus(console::Control c) override { focus.push_back(c); }
  void ClearResults() override { results.clear(); }
  void AppendResult(const std::string& line) override { results.push_back(line); }
  void RepaintResults() override { ++repaints; }
  void SetProgress(const std::string& caption) override { progress.push_back(caption); }
  void DoEvents() override {
    ++events;
    if (onEvents) onEvents();
  }
  bool HandledInput() override { return inputHandled; }
  void MsgBox(const std::string& text) override { msgBoxes.push_back(text); }
  void CloseWindow() override { ++closes; }

  std::map<console::Control, std::string> texts;
  int chkHH = 1;
  std::vector<console::Control> focus;
  std::vector<std::string> results;
  std::vector<std::string> progress;
  std::vector<std::string> msgBoxes;
  int repaints = 0;
  int events = 0;
  int closes = 0;
  // What HandledInput answers: the run paused for the user's input.
  bool inputHandled = false;
  // Runs at every event-processing point.
  std::function<void()> onEvents;
};

}  // namespace oa::testing
