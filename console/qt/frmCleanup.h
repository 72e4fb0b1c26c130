// The cleanup window: the nine controls of the grid, laid out in twips mapped through the
// screen's logical DPI, driving the core Form. It is the console the core writes to.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "console/console.h"
#include "console/form.h"
#include "console/layout.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace oa::qt {

class ProgressLabel;

class frmCleanup : public QWidget, public console::Console {
 public:
  explicit frmCleanup(console::ActivityLog log, QWidget* parent = nullptr);
  ~frmCleanup() override;

  console::Form& form() { return *form_; }

  // Fills the boxes from the registry (the export files `registry` names); call before show().
  void Load(const settings::RegistryFiles& registry) { form_->Form_Load(registry); }

  QWidget* Widget(console::Control c) const { return widgets_[console::Index(c)]; }
  // Where the layout has put a control, in twips.
  const console::Geometry& TwipGeometry(console::Control c) const {
    return twips_[console::Index(c)];
  }
  // The results box text as the core wrote it: every line ended by CR LF.
  std::string ResultsText() const;

  // When set, shows message boxes instead of the modal box, so that tests need not answer one.
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
  bool HandledInput() override { return inputHandled_; }
  void MsgBox(const std::string& text) override;
  void CloseWindow() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  int ToPixelsX(float twips) const;
  int ToPixelsY(float twips) const;
  // Runs the resize handler for the present client size and moves the controls.
  void Form_Resize();
  void Place(QWidget* w, const QRect& r);
  void ShowCriticalBox(const std::string& text);

  std::unique_ptr<console::Form> form_;
  console::Layout twips_;
  std::array<QWidget*, console::kControlCount> widgets_{};  // owned by this widget as their parent
  QPlainTextEdit* txtResult_ = nullptr;
  QLineEdit* txtExServer_ = nullptr;
  QLineEdit* txtAlias_ = nullptr;
  QCheckBox* chkHH_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  ProgressLabel* lblProgress_ = nullptr;
  QLabel* Label2_ = nullptr;
  QLabel* Label1_ = nullptr;
  bool shownOnce_ = false;
  bool closed_ = false;
  bool inCloseEvent_ = false;
  bool inputHandled_ = false;
};

}  // namespace oa::qt
