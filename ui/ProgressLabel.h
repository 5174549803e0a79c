#pragma once

#include <QLabel>
#include <QStaticText>

namespace ui {

// The progress label: bold text that changes on every row of a run, as wide
// as its text like an auto-sized label. The text is laid out once per
// change, for its width and its painting alike, and the label paints its own
// background: a change repaints the label alone, plus the window under the
// part it gives up when the text gets shorter.
class ProgressLabel : public QLabel {
    Q_OBJECT
public:
    explicit ProgressLabel(QWidget* parent = nullptr);

    // Hides QLabel::setText, which would leave the width as it was. A new
    // text is painted before this returns.
    void setText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void layOut();

    QStaticText laidOut_;
};

}  // namespace ui
