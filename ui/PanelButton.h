#pragma once

#include <QColor>
#include <QFrame>
#include <QPixmap>
#include <QWidget>

namespace ui {

// A picture drawn from the top-left corner, scaled down to fit its control
// with its proportions kept and never scaled up.
class Picture : public QWidget {
    Q_OBJECT
public:
    explicit Picture(QWidget* parent = nullptr);

    void setPixmap(const QPixmap& pixmap);
    const QPixmap& pixmap() const { return pixmap_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap pixmap_;
};

// The picture inside a panel button: it reports clicks and the mouse
// entering and leaving it, so the window can colour its panel.
//
// When one of the window's boxes opens, Qt tells the widget under the
// pointer that the pointer left, although it did not move. That leave is not
// reported; instead, when the box has closed, the picture reports the leave
// if the pointer is no longer on it by then.
class PanelPicture : public Picture {
    Q_OBJECT
public:
    explicit PanelPicture(QWidget* parent = nullptr);

signals:
    void clicked();
    void mouseEntered();
    void mouseLeft();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool pointerOnThis() const;

    bool pressed_ = false;
    bool hovered_ = false;  // the last report was an enter
};

// A flat coloured square that works as a button: it takes the focus with
// Tab, reports focus changes and clicks on itself or on its picture.
//
// Only a focus change inside the window counts. While another window is
// active (one of the program's own boxes, or another program) the panel stays
// the window's focused control and gets the focus back when the window is
// active again, so it reports neither an exit nor, on return, an enter; if
// meanwhile the window's focus moved elsewhere, the exit is reported when the
// window is active again.
class PanelButton : public QFrame {
    Q_OBJECT
public:
    explicit PanelButton(QWidget* parent = nullptr);

    void setColor(const QColor& color);
    QColor color() const;

    PanelPicture* picture() const { return picture_; }

    // Runs the command bound to the panel, as a click does.
    void click() { emit clicked(); }

signals:
    void clicked();
    void focusEntered();
    void focusExited();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    PanelPicture* picture_;
    bool pressed_ = false;
    bool focusedWhileAway_ = false;  // held the focus when the window was left
};

}  // namespace ui
