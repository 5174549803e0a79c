#include "ui/PanelButton.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

namespace ui {

namespace {

// A click is a left press and release on the same control, as a button has it.
bool releasedInside(const QWidget* widget, const QMouseEvent* event) {
    return event->button() == Qt::LeftButton && widget->rect().contains(event->position().toPoint());
}

}  // namespace

Picture::Picture(QWidget* parent) : QWidget(parent) {}

void Picture::setPixmap(const QPixmap& pixmap) {
    pixmap_ = pixmap;
    update();
}

void Picture::paintEvent(QPaintEvent*) {
    if (pixmap_.isNull()) return;
    QSize size = pixmap_.size();
    if (size.width() > width() || size.height() > height()) size = size.scaled(this->size(), Qt::KeepAspectRatio);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(QPoint(0, 0), size), pixmap_);
}

PanelPicture::PanelPicture(QWidget* parent) : Picture(parent) {}

void PanelPicture::mousePressEvent(QMouseEvent* event) { pressed_ = event->button() == Qt::LeftButton; }

void PanelPicture::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && releasedInside(this, event);
    pressed_ = false;
    if (click) emit clicked();
}

void PanelPicture::enterEvent(QEnterEvent*) {
    hovered_ = true;
    emit mouseEntered();
}

void PanelPicture::leaveEvent(QEvent*) {
    if (pointerOnThis()) return;  // a box is opening over the window
    hovered_ = false;
    emit mouseLeft();
}

bool PanelPicture::event(QEvent* event) {
    // Sent to the window's widgets when its box closes, and when it is active
    // again (before the focus returns): a pointer that moved while a box was
    // up has left the picture.
    const bool back = event->type() == QEvent::WindowUnblocked || event->type() == QEvent::WindowActivate;
    if (back && hovered_ && !pointerOnThis()) {
        hovered_ = false;
        emit mouseLeft();
    }
    return Picture::event(event);
}

bool PanelPicture::pointerOnThis() const { return QApplication::widgetAt(QCursor::pos()) == this; }

PanelButton::PanelButton(QWidget* parent) : QFrame(parent), picture_(new PanelPicture(this)) {
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    // Tab reaches the panel; a mouse click runs its command without moving the focus.
    setFocusPolicy(Qt::TabFocus);
    connect(picture_, &PanelPicture::clicked, this, &PanelButton::clicked);
}

void PanelButton::setColor(const QColor& color) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, color);
    setPalette(colours);
}

QColor PanelButton::color() const { return palette().color(QPalette::Window); }

void PanelButton::mousePressEvent(QMouseEvent* event) { pressed_ = event->button() == Qt::LeftButton; }

void PanelButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && releasedInside(this, event);
    pressed_ = false;
    if (click) emit clicked();
}

void PanelButton::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    // The window is active again and its focused control is still this one:
    // the focus never moved, and the colour stays as the pointer left it.
    const bool returned = focusedWhileAway_ && event->reason() == Qt::ActiveWindowFocusReason;
    focusedWhileAway_ = false;
    if (!returned) emit focusEntered();
}

void PanelButton::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason) {
        focusedWhileAway_ = true;
        return;
    }
    emit focusExited();
}

bool PanelButton::event(QEvent* event) {
    // Sent before the focus returns to the window's focused control.
    // When the focus does return here, focusInEvent learns it from the flag.
    if (event->type() == QEvent::WindowActivate && focusedWhileAway_ && window()->focusWidget() != this) {
        focusedWhileAway_ = false;
        emit focusExited();
    }
    return QFrame::event(event);
}

}  // namespace ui
