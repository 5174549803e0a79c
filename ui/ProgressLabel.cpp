#include "ui/ProgressLabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QTransform>
#include <QtMath>
#include <algorithm>
#include <limits>
#include <utility>

namespace ui {

ProgressLabel::ProgressLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    // Opaque: a repaint of the label needs nothing painted behind it. The
    // label fills its background itself, with the painter it draws the
    // text with.
    setAttribute(Qt::WA_OpaquePaintEvent);
    lead_.setTextFormat(Qt::PlainText);
}

void ProgressLabel::setText(const QString& text) {
    if (text == QLabel::text()) return;
    const QRect before = geometry();
    const QString leadBefore = lead_.text();
    const qreal topBefore = textTop();
    const LaidOutLine restBefore = std::move(rest_);  // laid out anew below
    {
        // QLabel marks all of itself for painting on every new text; what
        // changed is repainted below instead. The previous state is put
        // back, as Qt may have blocked updates for the whole window.
        const bool blocked = testAttribute(Qt::WA_UpdatesDisabled);
        setAttribute(Qt::WA_UpdatesDisabled, true);
        QLabel::setText(text);
        setAttribute(Qt::WA_UpdatesDisabled, blocked);
    }
    layOut();
    // Shown at once, as a run gives the event loop a turn only once per row:
    // the label, and the window under the part a shorter text gave up.
    if (!isVisible() || !parentWidget()) return;
    if (!geometry().contains(before)) {
        parentWidget()->repaint(before.united(geometry()));
    } else if (lead_.text() == leadBefore && textTop() == topBefore) {
        if (const std::optional<qreal> change = firstChange(restBefore, rest_)) {
            const int left = std::max(qFloor(leadAdvance_ + *change), 0);
            repaint(QRect(left, 0, width() - left, height()));
        }
    } else {
        repaint();
    }
}

std::optional<qreal> ProgressLabel::firstChange(const LaidOutLine& before, const LaidOutLine& after) {
    const auto same = [&](const LaidOutLine::Glyph& was, const LaidOutLine::Glyph& is) {
        return was.index == is.index && was.position == is.position &&
               before.runs[was.run].rawFont() == after.runs[is.run].rawFont();
    };
    std::size_t first = 0;
    while (first < before.glyphs.size() && first < after.glyphs.size() &&
           same(before.glyphs[first], after.glyphs[first]))
        ++first;
    if (first == before.glyphs.size() && first == after.glyphs.size()) return std::nullopt;
    qreal left = std::numeric_limits<qreal>::max();
    for (const LaidOutLine* line : {&before, &after})
        for (std::size_t i = first; i < line->glyphs.size(); ++i) left = std::min(left, line->glyphs[i].inkLeft);
    return left;
}

qreal ProgressLabel::textTop() const { return (height() - std::max(lead_.size().height(), rest_.size.height())) / 2; }

void ProgressLabel::layOut() {
    prepareText();
    // A fixed size, as no layout places the label: a new text of the same
    // width then asks the window for no new layout.
    setFixedSize(qCeil(leadAdvance_ + rest_.size.width()), height());
}

void ProgressLabel::prepareText() {
    const QString& whole = text();
    const qsizetype split = whole.lastIndexOf(QLatin1Char(' ')) + 1;
    const QString lead = whole.left(split);
    if (lead != lead_.text()) {
        lead_.setText(lead);
        lead_.prepare(QTransform(), font());
        const QFontMetricsF metrics(font());
        // The blank ends the lead: its advance counts, which the laid-out
        // size leaves out.
        leadAdvance_ = metrics.horizontalAdvance(lead);
        // A pixel either side for the antialiasing.
        const QRectF ink = metrics.boundingRect(lead);
        leadInkLeft_ = ink.left() - 1;
        leadInkRight_ = ink.right() + 1;
    }
    if (keys_.font() != font()) keys_ = KeyLayout(font());  // its own font or one it inherits
    rest_ = keys_.layOut(whole.mid(split));
}

void ProgressLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        lead_.setText(QString());
        layOut();
    }
}

void ProgressLabel::paintEvent(QPaintEvent* event) {
    if (lead_.text() + rest_.text != text()) prepareText();  // set through QLabel itself
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    const QPointF at(leadAdvance_, textTop());
    // A repaint of the key alone leaves the lead's pixels as they are.
    const QRect painted = event->rect();
    painter.fillRect(painted, palette().brush(backgroundRole()));
    if (!lead_.text().isEmpty() && painted.left() < leadInkRight_ && painted.right() + 1 > leadInkLeft_)
        painter.drawStaticText(QPointF(0, at.y()), lead_);
    for (const QGlyphRun& glyphs : rest_.runs) painter.drawGlyphRun(at, glyphs);
}

}  // namespace ui
