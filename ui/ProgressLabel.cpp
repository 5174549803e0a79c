#include "ui/ProgressLabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTransform>
#include <QtMath>
#include <algorithm>

namespace ui {

ProgressLabel::ProgressLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    // Opaque: a repaint of the label needs nothing painted behind it.
    setAutoFillBackground(true);
    lead_.setTextFormat(Qt::PlainText);
    rest_.setTextFormat(Qt::PlainText);
}

void ProgressLabel::setText(const QString& text) {
    if (text == QLabel::text()) return;
    const QRect before = geometry();
    QLabel::setText(text);
    layOut();
    // Shown at once, as a run gives the event loop a turn only once per row:
    // the label, and the window under the part a shorter text gave up.
    if (!isVisible() || !parentWidget()) return;
    if (geometry().contains(before))
        repaint();  // opaque and no narrower: nothing of the window shows anew
    else
        parentWidget()->repaint(before.united(geometry()));
}

void ProgressLabel::layOut() {
    prepareText();
    resize(qCeil(leadAdvance_ + rest_.size().width()), height());
}

void ProgressLabel::prepareText() {
    const QString& whole = text();
    const qsizetype split = whole.lastIndexOf(QLatin1Char(' ')) + 1;
    const QString lead = whole.left(split);
    if (lead != lead_.text()) {
        lead_.setText(lead);
        lead_.prepare(QTransform(), font());
        // The blank ends the lead: its advance counts, which the laid-out
        // size leaves out.
        leadAdvance_ = QFontMetricsF(font()).horizontalAdvance(lead);
    }
    rest_.setText(whole.mid(split));
    rest_.prepare(QTransform(), font());
}

void ProgressLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        lead_.setText(QString());
        layOut();
    }
}

void ProgressLabel::paintEvent(QPaintEvent*) {
    if (lead_.text() + rest_.text() != text()) prepareText();  // set through QLabel itself
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    // Left and vertically centred, where a label draws its text.
    const qreal top = (height() - std::max(lead_.size().height(), rest_.size().height())) / 2;
    if (!lead_.text().isEmpty()) painter.drawStaticText(QPointF(0, top), lead_);
    painter.drawStaticText(QPointF(leadAdvance_, top), rest_);
}

}  // namespace ui
