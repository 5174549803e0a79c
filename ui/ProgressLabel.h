#pragma once

#include <QLabel>
#include <QStaticText>
#include <optional>

#include "ui/KeyLayout.h"

namespace ui {

// The progress label: bold text that changes on every row of a run, as wide
// as its text like an auto-sized label. A run's texts are a fixed lead
// ("Integrando Documento: ") and the row's key: the lead is laid out once,
// the key once per change (mostly from its characters' glyphs), for the width
// and the painting alike. The label paints its own background: a new key
// repaints the label from the first glyph that changed (keys that count up
// change at their end), a new lead the whole label, plus the window under the
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
    // Where the pixels of the glyphs from the first one that differs
    // between the lines may start, in either; none when all are alike.
    static std::optional<qreal> firstChange(const LaidOutLine& before, const LaidOutLine& after);

    void layOut();
    void prepareText();
    // Left and vertically centred, where a label draws its text.
    qreal textTop() const;

    // The text up to its last blank, and the rest, drawn after it.
    QStaticText lead_;
    LaidOutLine rest_;
    KeyLayout keys_;
    qreal leadAdvance_ = 0;
    // Where the pixels of the lead may lie.
    qreal leadInkLeft_ = 0;
    qreal leadInkRight_ = 0;
};

}  // namespace ui
