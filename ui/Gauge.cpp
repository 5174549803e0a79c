#include "ui/Gauge.h"

#include <QEvent>
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
    if (event->type() == QEvent::FontChange) percentText_.setText(QString());  // laid out again at the next paint
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
    // Shown at once, as a run gives the event loop a turn only once per row.
    if (filledWidth() != shownWidth_ || percent() != shownPercent_) repaint();
}

void Gauge::resizeEvent(QResizeEvent*) { shownWidth_ = -1; }

void Gauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect inner = innerRect(rect());
    const QRect bar(inner.topLeft(), QSize(filledWidth(), inner.height()));
    // The border as a filled rectangle under the inside: a stroked one costs
    // the rasteriser many times more.
    painter.fillRect(rect(), palette().color(QPalette::Mid));
    painter.fillRect(inner, palette().color(QPalette::Base));
    painter.fillRect(bar, palette().color(QPalette::Highlight));
    // The percentage reads in the window's text colour, and over the bar in
    // the highlighted text colour.
    const QString shown = text();
    if (percentText_.text() != shown) {
        percentText_.setText(shown);
        percentText_.prepare(QTransform(), font());
    }
    const QSizeF size = percentText_.size();
    const QPointF at(inner.left() + (inner.width() - size.width()) / 2,
                     inner.top() + (inner.height() - size.height()) / 2);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawStaticText(at, percentText_);
    painter.setClipRect(bar);
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawStaticText(at, percentText_);
    shownWidth_ = bar.width();
    shownPercent_ = percent();
}

}  // namespace ui
