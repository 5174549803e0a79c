#include "ui/KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace ui {

KeyPreview::KeyPreview(QWidget* window) : QObject(window), window_(window) { qApp->installEventFilter(this); }

KeyPreview::~KeyPreview() { qApp->removeEventFilter(this); }

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    // A key the focused control leaves alone travels on to its parents and
    // passes here again; only its first delivery counts.
    auto* target = static_cast<QWidget*>(watched);
    if (target != QApplication::focusWidget() || target->window() != window_) return false;
    emit keyDown(static_cast<QKeyEvent*>(event)->key());
    return false;
}

}  // namespace ui
