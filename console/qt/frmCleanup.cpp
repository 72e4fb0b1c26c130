#include "console/qt/frmCleanup.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <cmath>

#include "console/qt/progress_label.h"

namespace oa::qt {

using console::ActivityLog;
using console::Control;
using console::ControlSpec;
using console::Form;
using console::Geometry;
using console::Index;
using console::kCaption;
using console::kControlCount;
using console::kControls;
using console::kMsgBoxTitle;
using console::kStartClientHeight;
using console::kStartClientWidth;
using console::StartLayout;

namespace {

QString FromStd(const std::string& s) {
  return QString::fromStdString(s);
}

// The results box shows CR LF as a line break; it keeps plain line feeds internally.
QString BoxText(const std::string& s) {
  QString text = FromStd(s);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

}  // namespace

frmCleanup::frmCleanup(ActivityLog log, QWidget* parent)
    : QWidget(parent), form_(std::make_unique<Form>(*this, std::move(log))), twips_(StartLayout()) {
  setWindowTitle(FromStd(kCaption));
  setWindowIcon(QIcon(QStringLiteral(":/oa/frmCleanup.png")));
  // The grid was drawn for a small dialog face of Arial's widths; the desktop's usual
  // face and size would cut the captions off. Without any of these faces the default stays.
  QFont dialogFont = font();
  dialogFont.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                          QStringLiteral("Arial"), dialogFont.family()});
  dialogFont.setPointSizeF(7.5);
  setFont(dialogFont);
  CreateControls();
  // Tells DoEvents whether it handled the user's input (a Cancel click comes to a button).
  QCoreApplication::instance()->installEventFilter(this);
  resize(ToPixelsX(kStartClientWidth), ToPixelsY(kStartClientHeight));
}

frmCleanup::~frmCleanup() = default;

void frmCleanup::CreateControls() {
  for (const ControlSpec& row : kControls) {
    QWidget* w = nullptr;
    const QString caption = FromStd(row.caption);
    switch (row.control) {
      case Control::txtResult: {
        txtResult_ = new QPlainTextEdit(this);
        // Locked: the user reads, selects and copies, but cannot change the text.
        txtResult_->setReadOnly(true);
        txtResult_->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
        txtResult_->setFocusPolicy(Qt::StrongFocus);
        txtResult_->setTabChangesFocus(true);
        txtResult_->setLineWrapMode(QPlainTextEdit::NoWrap);
        txtResult_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        txtResult_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        txtResult_->setUndoRedoEnabled(false);
        w = txtResult_;
        break;
      }
      case Control::txtExServer:
        w = txtExServer_ = new QLineEdit(this);
        break;
      case Control::txtAlias:
        w = txtAlias_ = new QLineEdit(this);
        break;
      case Control::chkHH:
        chkHH_ = new QCheckBox(caption, this);
        chkHH_->setChecked(true);
        w = chkHH_;
        break;
      case Control::cmdCancel:
      case Control::cmdOK: {
        auto* button = new QPushButton(caption, this);
        // Neither button answers Enter or Escape: only a click or the access key acts.
        button->setAutoDefault(false);
        button->setDefault(false);
        (row.control == Control::cmdOK ? cmdOK_ : cmdCancel_) = button;
        w = button;
        break;
      }
      case Control::lblProgress:
        w = lblProgress_ = new ProgressLabel(caption, this);
        break;
      case Control::Label2:
      case Control::Label1: {
        auto* label = new QLabel(caption, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        (row.control == Control::Label2 ? Label2_ : Label1_) = label;
        w = label;
        break;
      }
    }
    w->setObjectName(FromStd(row.name));
    widgets_[Index(row.control)] = w;
  }

  // Each caption label hands its access key to the box it names.
  Label2_->setBuddy(txtExServer_);
  Label1_->setBuddy(txtAlias_);

  QWidget::setTabOrder(cmdOK_, cmdCancel_);
  QWidget::setTabOrder(cmdCancel_, chkHH_);
  QWidget::setTabOrder(chkHH_, txtAlias_);
  QWidget::setTabOrder(txtAlias_, txtExServer_);
  QWidget::setTabOrder(txtExServer_, txtResult_);

  QObject::connect(cmdOK_, &QPushButton::clicked, this, [this] { form_->cmdOK_Click(); });
  QObject::connect(cmdCancel_, &QPushButton::clicked, this, [this] { form_->cmdCancel_Click(); });

  for (const ControlSpec& row : kControls) {
    const Geometry& g = twips_[Index(row.control)];
    Place(widgets_[Index(row.control)], QRect(ToPixelsX(g.Left), ToPixelsY(g.Top),
                                              ToPixelsX(g.Left + g.Width) - ToPixelsX(g.Left),
                                              ToPixelsY(g.Top + g.Height) - ToPixelsY(g.Top)));
  }
}

int frmCleanup::ToPixelsX(float twips) const {
  return static_cast<int>(std::lround(twips * static_cast<float>(logicalDpiX()) / 1440.0f));
}

int frmCleanup::ToPixelsY(float twips) const {
  return static_cast<int>(std::lround(twips * static_cast<float>(logicalDpiY()) / 1440.0f));
}

void frmCleanup::Place(QWidget* w, const QRect& r) {
  if (w == lblProgress_) {
    lblProgress_->Place(r);
  } else {
    w->setGeometry(r);
  }
}

void frmCleanup::Form_Resize() {
  // A minimised window has no client area.
  const bool minimised = isMinimized();
  const float clientWidth =
      minimised ? 0.0f : static_cast<float>(width()) * 1440.0f / static_cast<float>(logicalDpiX());
  const float clientHeight =
      minimised ? 0.0f : static_cast<float>(height()) * 1440.0f / static_cast<float>(logicalDpiY());
  twips_ = oa::console::Form_Resize(clientWidth, clientHeight, twips_);
  for (std::size_t i = 0; i < kControlCount; ++i) {
    const Geometry& g = twips_[i];
    const QRect r(ToPixelsX(g.Left), ToPixelsY(g.Top),
                  ToPixelsX(g.Left + g.Width) - ToPixelsX(g.Left),
                  ToPixelsY(g.Top + g.Height) - ToPixelsY(g.Top));
    if (widgets_[i]->geometry() != r) Place(widgets_[i], r);
  }
}

void frmCleanup::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    cmdOK_->setFocus(Qt::OtherFocusReason);
  }
  Form_Resize();
}

void frmCleanup::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void frmCleanup::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Minimise and restore change the client area without always sending a resize.
  if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmCleanup::closeEvent(QCloseEvent* event) {
  // Closing by the frame unloads like Cancel does, minus the cancel flag; the unload never
  // refuses, and nothing is deleted here: a run may still be on the stack.
  inCloseEvent_ = true;
  form_->Form_Unload();
  inCloseEvent_ = false;
  closed_ = true;
  event->accept();
}

std::string frmCleanup::ResultsText() const {
  QString text = txtResult_->toPlainText();
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return text.toStdString();
}

std::string frmCleanup::Text(Control control) {
  QWidget* w = Widget(control);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (w == txtResult_) return ResultsText();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  return {};
}

void frmCleanup::SetText(Control control, const std::string& text) {
  QWidget* w = Widget(control);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(FromStd(text));
  } else if (w == txtResult_) {
    txtResult_->setPlainText(BoxText(text));
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(FromStd(text));
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(FromStd(text));
  }
}

int frmCleanup::Value(Control control) {
  if (control != Control::chkHH) return 0;
  return chkHH_->isChecked() ? 1 : 0;
}

void frmCleanup::SetFocus(Control control) {
  Widget(control)->setFocus(Qt::OtherFocusReason);
}

void frmCleanup::ClearResults() {
  txtResult_->clear();
}

void frmCleanup::AppendResult(const std::string& line) {
  // Inserted through a cursor of its own, so the user's caret, selection and scroll position
  // stay where they are, and the cost of a line does not grow with the box.
  QTextCursor end(txtResult_->document());
  end.movePosition(QTextCursor::End);
  end.insertText(BoxText(line) + QLatin1Char('\n'));
}

void frmCleanup::RepaintResults() {
  txtResult_->viewport()->repaint();
}

void frmCleanup::SetProgress(const std::string& caption) {
  lblProgress_->SetCaption(FromStd(caption));
}

void frmCleanup::DoEvents() {
  inputHandled_ = false;
  QCoreApplication::processEvents();
}

bool frmCleanup::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Close:
      inputHandled_ = true;
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void frmCleanup::MsgBox(const std::string& text) {
  // Once the window has been unloaded a run that is still unwinding shows nothing more.
  if (closed_ || form_->Unloaded()) return;
  if (showMessageBox) {
    showMessageBox(text);
  } else {
    ShowCriticalBox(text);
  }
}

void frmCleanup::ShowCriticalBox(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, FromStd(kMsgBoxTitle), FromStd(text), QMessageBox::Ok,
                  this);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void frmCleanup::CloseWindow() {
  closed_ = true;
  if (!inCloseEvent_) close();
}

}  // namespace oa::qt
