#include "ui/Gauge.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace ui {

namespace {

// Inside the border.
QRect innerRect(const QRect& whole) { return whole.adjusted(1, 1, -1, -1); }

}  // namespace

Gauge::Gauge(QWidget* parent) : QWidget(parent) {
    // Opaque: a repaint of the gauge needs nothing painted behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    percentText_.setTextFormat(Qt::PlainText);
}

void Gauge::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) textArea_ = QRect();  // laid out again at the next paint
}

int Gauge::percent() const {
    const qint64 span = qint64(maximum_) - minimum_;
    return span == 0 ? 100 : int((qint64(value_) - minimum_) * 100 / span);
}

int Gauge::filledWidth() const {
    const qint64 span = qint64(maximum_) - minimum_;
    const int inner = std::max(innerRect(rect()).width(), 0);
    return span == 0 ? inner : int(inner * (qint64(value_) - minimum_) / span);
}

QString Gauge::text() const { return QString::number(percent()) + QLatin1Char('%'); }

void Gauge::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    value_ = std::clamp(value_, minimum_, maximum_);
    update();
}

void Gauge::setValue(int value) {
    if (value < minimum_ || value > maximum_ || value == value_) return;
    value_ = value;
    // Shown at once, as a run gives the event loop a turn only once per row:
    // the columns between the bar's old and new end, and the percentage,
    // where it was and where it goes, when it changes.
    const int width = filledWidth();
    if (shownWidth_ < 0) {
        repaint();
        return;
    }
    QRegion changed;
    if (width != shownWidth_) {
        const QRect inner = innerRect(rect());
        changed += QRect(inner.left() + std::min(width, shownWidth_), inner.top(), std::abs(width - shownWidth_),
                         inner.height());
    }
    if (percent() != shownPercent_) changed += shownTextArea_.united(preparePercent());
    if (!changed.isEmpty()) repaint(changed);
}

void Gauge::resizeEvent(QResizeEvent*) {
    shownWidth_ = -1;
    textArea_ = QRect();
}

QRect Gauge::preparePercent() {
    const QString shown = text();
    if (percentText_.text() != shown || textArea_.isNull()) {
        percentText_.setText(shown);
        percentText_.prepare(QTransform(), font());
        const QRect inner = innerRect(rect());
        const QSizeF size = percentText_.size();
        textAt_ = QPointF(inner.left() + (inner.width() - size.width()) / 2,
                          inner.top() + (inner.height() - size.height()) / 2);
        // The glyphs' own extent, as they may reach past the laid-out box;
        // a pixel more either way for the antialiasing.
        const QFontMetricsF metrics(font());
        const QRectF ink = metrics.boundingRect(shown).translated(0, metrics.ascent());
        textArea_ = ink.united(QRectF(QPointF(0, 0), size)).translated(textAt_).toAlignedRect().adjusted(-1, -1, 1, 1);
    }
    return textArea_;
}

void Gauge::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect inner = innerRect(rect());
    const QRect bar(inner.topLeft(), QSize(filledWidth(), inner.height()));
    const QRect painted = event->rect();
    // The border as a filled rectangle under the inside: a stroked one costs
    // the rasteriser many times more. What an opaque colour covers within
    // the repainted part is not filled first: a step that grows the bar
    // fills only the bar's new columns.
    const QColor base = palette().color(QPalette::Base);
    const QColor highlight = palette().color(QPalette::Highlight);
    const bool underTheBar = bar.contains(painted) && highlight.alpha() == 255;
    if (!underTheBar && (!inner.contains(painted) || base.alpha() != 255))
        painter.fillRect(rect(), palette().color(QPalette::Mid));
    if (!underTheBar) painter.fillRect(inner, base);
    painter.fillRect(bar, highlight);
    // The percentage reads in the window's text colour, and over the bar in
    // the highlighted text colour; a repaint that misses it leaves it be.
    const QRect textArea = preparePercent();
    if (painted.intersects(textArea)) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawStaticText(textAt_, percentText_);
        painter.setClipRect(bar);
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawStaticText(textAt_, percentText_);
    }
    shownWidth_ = bar.width();
    shownPercent_ = percent();
    shownTextArea_ = textArea;
}

}  // namespace ui
