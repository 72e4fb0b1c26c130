// Cancel pressed on the real window while the renamed folder is emptied: the click arrives
// with the window's pending events, the emptying stops after the item in hand, the window
// closes and the session ends when the run has unwound.
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTest>

#include "console/qt/frmCleanup.h"
#include "tests/handhelds/form_run.h"

namespace oa::testing {

using console::ActivityLog;
using console::Control;
using qt::frmCleanup;

namespace {

// Clicks a button, as the user would, once the label has painted a given caption: the click
// is queued and handled at the run's next event-processing point.
class ClickWhenPainted : public QObject {
 public:
  ClickWhenPainted(QLabel* label, QAbstractButton* button, QString caption)
      : label_(label), button_(button), caption_(std::move(caption)) {
    label_->installEventFilter(this);
  }
  bool queued = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !queued && label_->text() == caption_) {
      queued = true;
      QMetaObject::invokeMethod(
          button_, [b = button_] { QTest::mouseClick(b, Qt::LeftButton); }, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  QLabel* label_;
  QAbstractButton* button_;
  QString caption_;
};

class WindowCancel : public StoreRun {};

TEST_F(WindowCancel, CancelButtonDuringEmptyingKeepsTheRestOfTheRenamedFolder) {
  Import(Dump({MailboxStore({Folder("Handhelds", "hh", 60)},
                            AgentMessage({{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", kHHPath}}))},
              {Fault("Folder.Delete", "hh", "silent", 1)}));
  const std::string old = IdOf("hh");

  frmCleanup window{ActivityLog((dir / "OA-Cleanup.log").string())};
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
  window.SetText(Control::txtExServer, storePath);
  window.SetText(Control::txtAlias, kAlias);
  static_cast<QAbstractButton*>(window.Widget(Control::chkHH))->setChecked(true);
  auto* label = static_cast<QLabel*>(window.Widget(Control::lblProgress));
  auto* cancel = static_cast<QAbstractButton*>(window.Widget(Control::cmdCancel));
  ClickWhenPainted clicker(label, cancel, "Count = 45");

  QTest::mouseClick(window.Widget(Control::cmdOK), Qt::LeftButton);

  ASSERT_TRUE(clicker.queued);
  const auto lines =
      Concat(LogonLines(),
             {"Retrieved Handhelds folder using EntryID " + old, "CleanupHH: message count = 60",
              "CleanupHH: attempting to delete folder",
              "failed to delete existing Handhelds folder; attempting rename",
              "successfully renamed existing folder as Handhelds -1",
              "Created new Handhelds folder in mailbox", "pointed agent to new Handhelds folder",
              "Canceled delete of folder items before completion; count = 44"});
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  EXPECT_EQ(window.ResultsText(), text);
  // The label was not updated for the item in hand when Cancel stopped the loop.
  EXPECT_EQ(label->text(), "Count = 45");
  EXPECT_TRUE(window.form().run().bCancel);
  EXPECT_TRUE(window.form().Unloaded());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.form().run().RDO, nullptr);

  const json after = Export();
  const json* kept = FindFolder(after, {kTopName, "Handhelds -1"});
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->at("entryId"), old);
  EXPECT_EQ(kept->at("count"), 44);
  const json* fresh = FindFolder(after, {kTopName, "Handhelds"});
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(NamedOf(AgentOf(after), "HHEntryID"), fresh->at("entryId"));
}

}  // namespace
}  // namespace oa::testing
