#include "console/qt/progress_label.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>

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
  const QString before = text();
  if (caption == before) {
    repaint();
    return;
  }
  // setText asks for a later update too: a posted event and a wake-up of the event loop for
  // every item, for pixels the repaint below paints at once.
  setAttribute(Qt::WA_UpdatesDisabled, true);
  setText(caption);
  setAttribute(Qt::WA_UpdatesDisabled, false);
  repaint(ChangedRect(before, caption));
}

QRect ProgressLabel::ChangedRect(const QString& before, const QString& after) {
  // A count that goes down changes only its last digits: painting and sending only the pixels
  // from there on keeps every step small on a remote display.
  qsizetype same = 0;
  const qsizetype common = std::min(before.size(), after.size());
  while (same < common && before[same] == after[same]) ++same;
  // Measured from the last space, so the measured part stays the same from one item to the
  // next and kerning inside a number does not matter.
  const qsizetype lastSpace = same > 0 ? after.lastIndexOf(QLatin1Char(' '), same - 1) : -1;
  const qsizetype stable = lastSpace < 0 ? 0 : lastSpace + 1;
  if (prefix_ != after.left(stable) || prefixFont_ != font()) {
    prefix_ = after.left(stable);
    prefixFont_ = font();
    prefixWidth_ = fontMetrics().horizontalAdvance(prefix_);
  }
  const QFontMetrics metrics = fontMetrics();
  auto width = [&](const QString& s) {
    int w = 0;
    for (qsizetype i = stable; i < s.size(); ++i) w += metrics.horizontalAdvance(s[i]);
    return w;
  };
  // Room on both sides for glyphs that reach past their advance.
  const int slack = metrics.averageCharWidth() + 2;
  const QRect area = contentsRect();
  const int left = area.left() + prefixWidth_ - slack;
  const int right = area.left() + prefixWidth_ + std::max(width(before), width(after)) + slack;
  return QRect(QPoint(left, area.top()), QPoint(right, area.bottom())).intersected(rect());
}

void ProgressLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().brush(backgroundRole()));
  // One line, left aligned and centred vertically as a label draws it; drawn from its baseline,
  // which needs no line layout for every caption.
  const QFontMetrics metrics = fontMetrics();
  const QRect area = contentsRect();
  const int baseline = area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent();
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
  painter.drawText(QPoint(area.left(), baseline), text());
}

}  // namespace oa
