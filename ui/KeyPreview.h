#pragma once

#include <QObject>

class QWidget;

namespace ui {

// Lets a window see every key pressed in it before the focused control
// does. It watches the application's events and reports a key press once,
// when it is delivered to the focused control of `window`; it never
// consumes the key.
class KeyPreview : public QObject {
    Q_OBJECT
public:
    explicit KeyPreview(QWidget* window);
    ~KeyPreview() override;

signals:
    void keyDown(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
};

}  // namespace ui
