#pragma once

#include <QLabel>
#include <QStaticText>

namespace ui {

// The progress label: bold text that changes on every row of a run, as wide
// as its text like an auto-sized label. A run's texts are a fixed lead
// ("Integrando Documento: ") and the row's key: the lead is laid out once,
// the key once per change, for the width and the painting alike. The label
// paints its own background: a new key repaints the key's part of the label
// alone, a new lead the whole label, plus the window under the part it gives
// up when the text gets shorter.
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
    void prepareText();
    // Left and vertically centred, where a label draws its text.
    qreal textTop() const;

    // The text up to its last blank, and the rest, drawn after it.
    QStaticText lead_;
    QStaticText rest_;
    qreal leadAdvance_ = 0;
    // Where the pixels of the lead may lie, and where those of the rest may
    // start.
    qreal leadInkLeft_ = 0;
    qreal leadInkRight_ = 0;
    qreal restInkLeft_ = 0;
};

}  // namespace ui
