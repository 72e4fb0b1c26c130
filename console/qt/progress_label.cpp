#include "console/qt/progress_label.h"

#include <QPainter>
#include <QStyle>

namespace oa {

ProgressLabel::ProgressLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void ProgressLabel::Place(const QRect& r) {
  // Equal minimum and maximum sizes: a caption's change then posts no layout request.
  setFixedSize(r.size());
  move(r.topLeft());
}

void ProgressLabel::SetCaption(const QString& caption) {
  if (caption != text()) setText(caption);
  repaint();
}

void ProgressLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().brush(backgroundRole()));
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                        isEnabled(), text(), foregroundRole());
}

}  // namespace oa
