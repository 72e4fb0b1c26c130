// lblProgress: a label whose caption changes after every item emptied. It is a fixed size (so
// a new caption asks no layout of the window), paints every pixel of its own (so nothing below
// it is painted first) and repaints on the spot when its caption is set.
#pragma once

#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QRawFont>
#include <QString>

namespace oa::qt {

class ProgressLabel : public QLabel {
 public:
  ProgressLabel(const QString& caption, QWidget* parent);

  // Where the window's layout puts it.
  void Place(const QRect& r);
  // Sets the caption and repaints the label at once.
  void SetCaption(const QString& caption);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The part of the label whose pixels differ between the two captions, left aligned.
  QRect ChangedRect(const QString& before, const QString& after);

  bool DrawPlainGlyphs(QPainter& painter, const QPoint& origin);

  QString prefix_;
  QFont prefixFont_;
  int prefixWidth_ = 0;
  QFont rawFontOf_;
  QRawFont rawFont_;
};

}  // namespace oa::qt
