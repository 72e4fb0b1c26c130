// The window as built: controls, captions, settings, geometry, focus, keys, resizing and the
// message box, on the real Qt window (offscreen).
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "window_fixture.h"

namespace oa::testing {

using console::Control;
using console::ControlKind;
using console::ControlSpec;
using console::Geometry;
using console::Index;
using console::kControlCount;
using console::kControls;
using console::Layout;

namespace {

// Bound on waits for the window system: generous, as a loaded machine only makes them slower.
constexpr int kWait = 30000;

TEST_F(WindowTest, CaptionClientSizeAndIcon) {
  EXPECT_EQ(window->windowTitle(), QString("ondavel Agent  Cleanup"));
  EXPECT_EQ(window->size(), QSize(Px(5685), Px(4380)));
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(window->windowIcon().isNull());

  const QImage icon(":/oa/frmCleanup.png");
  EXPECT_EQ(icon.size(), QSize(32, 32));
  EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
  EXPECT_EQ(icon.depth(), 8);
}

TEST_F(WindowTest, NineControlsWithTheirKindsCaptionsAndNames) {
  ASSERT_EQ(window->children().size(), 9);
  for (const ControlSpec& row : kControls) {
    QWidget* w = W(row.control);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->objectName().toStdString(), row.name);
    EXPECT_EQ(w->parent(), window.get());
    EXPECT_TRUE(w->isEnabled()) << row.name;
    EXPECT_EQ(window->Text(row.control), row.caption) << row.name;
    switch (row.kind) {
      case ControlKind::TextBox:
        EXPECT_TRUE(qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w));
        break;
      case ControlKind::CheckBox:
        EXPECT_TRUE(qobject_cast<QCheckBox*>(w));
        break;
      case ControlKind::CommandButton:
        EXPECT_TRUE(qobject_cast<QPushButton*>(w));
        break;
      case ControlKind::Label:
        EXPECT_TRUE(qobject_cast<QLabel*>(w));
        break;
    }
  }
  // Created in grid order: later controls lie above earlier ones.
  for (int i = 0; i < 9; ++i) EXPECT_EQ(window->children()[i], W(kControls[i].control));
  EXPECT_EQ(window->Value(Control::chkHH), 1);
  EXPECT_EQ(qobject_cast<QLabel*>(W(Control::Label2))->buddy(), W(Control::txtExServer));
  EXPECT_EQ(qobject_cast<QLabel*>(W(Control::Label1))->buddy(), W(Control::txtAlias));
  for (Control c : {Control::cmdOK, Control::cmdCancel}) {
    auto* b = qobject_cast<QPushButton*>(W(c));
    EXPECT_FALSE(b->autoDefault());
    EXPECT_FALSE(b->isDefault());
  }
}

TEST_F(WindowTest, ResultsBoxIsLockedMultiLineWithBothScrollBars) {
  auto* box = qobject_cast<QPlainTextEdit*>(W(Control::txtResult));
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isReadOnly());
  EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  Show();
  window->form().WriteLog("first line");
  window->form().WriteLog("second line");
  box->setFocus();
  QTest::keyClicks(box, "typed");
  QTest::keyClick(box, Qt::Key_Backspace);
  QTest::keyClick(box, Qt::Key_Delete);
  EXPECT_EQ(window->ResultsText(), "first line\r\nsecond line\r\n");
  // Selecting and copying still work.
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(box->textCursor().selectedText().size(), QString("first line\nsecond line\n").size());
  QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QString("first line\nsecond line\n"));
}

TEST_F(WindowTest, ShownWindowHasTheGridWithTheResultsBoxStretchedDown) {
  Show();
  for (const ControlSpec& row : kControls) {
    Geometry expected = row.geometry;
    // The resize handler runs once on show: 4380 - 1200 - 120.
    if (row.control == Control::txtResult) expected.Height = 3060;
    EXPECT_EQ(window->TwipGeometry(row.control), expected) << row.name;
    EXPECT_EQ(W(row.control)->geometry(), PixelRect(expected)) << row.name;
    EXPECT_TRUE(W(row.control)->isVisible()) << row.name;
  }
}

TEST_F(WindowTest, FocusStartsOnOkAndTabCyclesTheFocusableControls) {
  Show();
  EXPECT_EQ(QApplication::focusWidget(), W(Control::cmdOK));
  const std::vector<Control> cycle = {Control::cmdCancel,   Control::chkHH,     Control::txtAlias,
                                      Control::txtExServer, Control::txtResult, Control::cmdOK,
                                      Control::cmdCancel};
  for (Control next : cycle) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), W(next)) << kControls[Index(next)].name;
  }
}

TEST_F(WindowTest, AccessKeysOnLabelsMoveToTheirBoxes) {
  Show();
  QTest::keyClick(window.get(), Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(QApplication::focusWidget(), W(Control::txtExServer));
  QTest::keyClick(window.get(), Qt::Key_M, Qt::AltModifier);
  EXPECT_EQ(QApplication::focusWidget(), W(Control::txtAlias));
}

TEST_F(WindowTest, AccessKeyOnTheCheckBoxFocusesAndToggles) {
  Show();
  QTest::keyClick(window.get(), Qt::Key_H, Qt::AltModifier);
  EXPECT_EQ(QApplication::focusWidget(), W(Control::chkHH));
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->Value(Control::chkHH) == 0; }, kWait));
}

TEST_F(WindowTest, AccessKeyOnOkClicksIt) {
  Show();
  QTest::keyClick(window.get(), Qt::Key_O, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, kWait));
  EXPECT_EQ(boxes, std::vector<std::string>{"You must supply the Exchange Server name!"});
}

TEST_F(WindowTest, AccessKeyOnCancelClicksIt) {
  Show();
  QTest::keyClick(window.get(), Qt::Key_C, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, kWait));
  EXPECT_TRUE(window->form().run().bCancel);
}

TEST_F(WindowTest, EnterAndEscapeClickNoButton) {
  Show();
  W(Control::txtExServer)->setFocus();
  QTest::keyClick(W(Control::txtExServer), Qt::Key_Return);
  QTest::keyClick(W(Control::txtExServer), Qt::Key_Enter);
  QTest::keyClick(W(Control::txtExServer), Qt::Key_Escape);
  // A key that clicked a button would have pressed it down at once (the click animation).
  QCoreApplication::processEvents();
  EXPECT_FALSE(qobject_cast<QPushButton*>(W(Control::cmdOK))->isDown());
  EXPECT_FALSE(qobject_cast<QPushButton*>(W(Control::cmdCancel))->isDown());
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->form().run().bCancel);
}

// Resizes the window and waits for the window system to report the new size.
void ResizeTo(QWidget& w, QSize size) {
  w.resize(size);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.size() == size; }, kWait));
}

TEST_F(WindowTest, ResizingAppliesTheRuleInTwips) {
  Show();
  const float twipsPerPixel = 1440.0f / static_cast<float>(window->logicalDpiX());
  Layout expected{};
  for (std::size_t i = 0; i < kControlCount; ++i)
    expected[i] = window->TwipGeometry(static_cast<Control>(i));

  for (QSize size :
       {QSize(800, 600), QSize(200, 500), QSize(380, 292), QSize(640, 80), QSize(379, 292)}) {
    ResizeTo(*window, size);
    expected = Form_Resize(static_cast<float>(size.width()) * twipsPerPixel,
                           static_cast<float>(size.height()) * twipsPerPixel, expected);
    for (const ControlSpec& row : kControls) {
      EXPECT_EQ(window->TwipGeometry(row.control), expected[Index(row.control)])
          << row.name << " at " << size.width() << "x" << size.height();
      EXPECT_EQ(W(row.control)->geometry(), PixelRect(expected[Index(row.control)]))
          << row.name << " at " << size.width() << "x" << size.height();
    }
  }
  // The window came back to its start size: the buttons are back at 4680.
  EXPECT_EQ(window->TwipGeometry(Control::cmdOK).Left, 4680);
}

TEST_F(WindowTest, MinimiseAndRestoreRunTheResizeHandler) {
  Show();
  ResizeTo(*window, QSize(800, 600));
  const Geometry wide = window->TwipGeometry(Control::txtResult);
  window->showMinimized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->isMinimized(); }, kWait));
  EXPECT_EQ(window->TwipGeometry(Control::txtResult).Height, 3015);
  EXPECT_EQ(window->TwipGeometry(Control::txtResult).Width, 5415);
  EXPECT_EQ(window->TwipGeometry(Control::cmdOK).Left, 4680);
  window->showNormal();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isMinimized(); }, kWait));
  EXPECT_EQ(window->TwipGeometry(Control::txtResult), wide);
}

TEST_F(WindowTest, ProgressCaption) {
  Show();
  window->SetProgress("Count = 41");
  EXPECT_EQ(qobject_cast<QLabel*>(W(Control::lblProgress))->text(), QString("Count = 41"));
  EXPECT_EQ(window->Text(Control::lblProgress), "Count = 41");
}

// The real box: answered by a timer that finds it among the modal widgets.
TEST_F(WindowTest, MessageBoxIsApplicationModalCriticalWithOneOkButton) {
  window->showMessageBox = nullptr;
  Show();
  struct Seen {
    bool found = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    int buttonCount = 0;
    Qt::WindowModality modality = Qt::NonModal;
  } seen;
  std::function<void()> answer = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      QTimer::singleShot(10, answer);
      return;
    }
    seen = {true,
            box->windowTitle(),
            box->text(),
            box->icon(),
            box->standardButtons(),
            static_cast<int>(box->buttons().size()),
            box->windowModality()};
    box->button(QMessageBox::Ok)->click();
  };
  QTimer::singleShot(0, answer);
  QTest::mouseClick(W(Control::cmdOK), Qt::LeftButton);

  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, QString("ondavelAgent Administrator"));
  EXPECT_EQ(seen.text, QString("You must supply the Exchange Server name!"));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(seen.buttonCount, 1);
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
  // The box has taken the application's focus away; the window's own focus moved.
  EXPECT_EQ(window->focusWidget(), W(Control::txtExServer));
}

}  // namespace
}  // namespace oa::testing
