// The window as a run of the mailbox layer sees it, without a console: settable server and
// mailbox texts, and a record of every results box line, message box and progress caption.
// It owns the run's context, as the window does. A hook lets a test act at an event-processing
// point (as a click on Cancel would arrive).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mailbox/run_context.h"

namespace oa::testing {

class RecordingHost : public mailbox::RunHost {
 public:
  RecordingHost() = default;
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  // As the window does: the line reaches the results box (or empties it), then events run once.
  void WriteLog(const std::string& sMsg, bool bClear) override {
    if (bClear) {
      results.clear();
    } else {
      results.push_back(sMsg);
    }
    DoEvents();
  }
  void MsgBox(const std::string& text) override { msgBoxes.push_back(text); }
  void DoEvents() override {
    ++events;
    if (onEvents) onEvents();
  }
  void SetProgress(const std::string& caption) override { progress.push_back(caption); }
  std::string ServerText() override { return server; }
  std::string MailboxText() override { return mailbox; }
  bool Ended() override { return ended; }

  mailbox::RunContext& run() { return *run_; }
  const mailbox::RunOutcome& outcome() const { return run_->outcome; }
  // A fresh window on the same record: a new run context that keeps only the session, as the
  // program's next start goes on with the one before; without keepSession, nothing is kept.
  void Reopen(bool keepSession = true) {
    std::shared_ptr<mailbox::RDOSession> session = keepSession ? run_->RDO : nullptr;
    run_ = std::make_unique<mailbox::RunContext>(*this);
    run_->RDO = std::move(session);
  }

  std::string server;
  std::string mailbox;
  // True: the window has been unloaded.
  bool ended = false;
  std::vector<std::string> results;
  std::vector<std::string> msgBoxes;
  std::vector<std::string> progress;
  int events = 0;
  // Runs at every event-processing point.
  std::function<void()> onEvents;

 private:
  std::unique_ptr<mailbox::RunContext> run_ = std::make_unique<mailbox::RunContext>(*this);
};

}  // namespace oa::testing
