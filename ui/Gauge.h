#pragma once

#include <QStaticText>
#include <QWidget>

namespace ui {

// The progress gauge: a flat bar in the palette's highlight colour on its
// base colour, inside a single-line border, with the percentage in the
// middle. A run steps it once per row, so a step costs little: it repaints,
// at once, only the columns the bar's end moved across and the percentage
// when it changes, and painting is filled rectangles and a short text.
class Gauge : public QWidget {
    Q_OBJECT
public:
    explicit Gauge(QWidget* parent = nullptr);

    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int value() const { return value_; }
    // The percentage done, as "37%".
    QString text() const;

    // The value is brought inside the new range.
    void setRange(int minimum, int maximum);
    // A value outside the range is ignored.
    void setValue(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int percent() const;
    int filledWidth() const;
    // Lays the percentage out when it changed; where its pixels may lie.
    QRect preparePercent();

    int minimum_ = 0;
    int maximum_ = 100;
    int value_ = 0;
    int shownWidth_ = -1;  // what the screen shows
    int shownPercent_ = -1;
    QRect shownTextArea_;
    // The percentage laid out once per change, not once per paint: a step
    // that moves the bar keeps the text.
    QStaticText percentText_;
    QPointF textAt_;
    QRect textArea_;
};

}  // namespace ui
