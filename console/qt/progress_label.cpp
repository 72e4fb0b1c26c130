#include "console/qt/progress_label.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace oa::qt {

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
  const QPoint origin(area.left(),
                      area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent());
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
  if (!DrawPlainGlyphs(painter, origin)) painter.drawText(origin, text());
}

bool ProgressLabel::DrawPlainGlyphs(QPainter& painter, const QPoint& origin) {
  // A count is digits and ASCII: glyph by glyph from the font's own table, without text shaping.
  // Anything else (or a glyph the font lacks) goes through the full text engine.
  const QString caption = text();
  for (const QChar c : caption)
    if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
  if (rawFontOf_ != font()) {
    rawFontOf_ = font();
    rawFont_ = QRawFont::fromFont(rawFontOf_);
  }
  if (!rawFont_.isValid()) return false;
  const QList<quint32> glyphs = rawFont_.glyphIndexesForString(caption);
  if (glyphs.size() != caption.size() || glyphs.contains(0u)) return false;
  const QList<QPointF> advances = rawFont_.advancesForGlyphIndexes(glyphs);
  QList<QPointF> positions;
  positions.reserve(glyphs.size());
  QPointF pen;
  for (const QPointF& advance : advances) {
    positions.append(pen);
    pen += advance;
  }
  QGlyphRun run;
  run.setRawFont(rawFont_);
  run.setGlyphIndexes(glyphs);
  run.setPositions(positions);
  painter.drawGlyphRun(origin, run);
  return true;
}

}  // namespace oa::qt
