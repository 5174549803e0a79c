#include "ui/ProgressLabel.h"

#include <QEvent>
#include <QPainter>
#include <QTransform>
#include <QtMath>

namespace ui {

ProgressLabel::ProgressLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    // Opaque: a repaint of the label needs nothing painted behind it.
    setAutoFillBackground(true);
    laidOut_.setTextFormat(Qt::PlainText);
}

void ProgressLabel::setText(const QString& text) {
    if (text == QLabel::text()) return;
    const QRect before = geometry();
    QLabel::setText(text);
    layOut();
    // Shown at once, as a run gives the event loop a turn only once per row:
    // the label, and the window under the part a shorter text gave up.
    if (isVisible() && parentWidget()) parentWidget()->repaint(before.united(geometry()));
}

void ProgressLabel::layOut() {
    laidOut_.setText(text());
    laidOut_.prepare(QTransform(), font());
    resize(qCeil(laidOut_.size().width()), height());
}

void ProgressLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) layOut();
}

void ProgressLabel::paintEvent(QPaintEvent*) {
    if (laidOut_.text() != text()) {  // set through QLabel itself
        laidOut_.setText(text());
        laidOut_.prepare(QTransform(), font());
    }
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    // Left and vertically centred, where a label draws its text.
    painter.drawStaticText(QPointF(0, (height() - laidOut_.size().height()) / 2), laidOut_);
}

}  // namespace ui
