#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QRawFont>
#include <QSizeF>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace ui {

// Text laid out on one line, as a static text lays it out: its glyphs, where
// they go, and the line's size.
struct LaidOutLine {
    struct Glyph {
        quint32 index;
        QPointF position;
        qreal inkLeft;  // where its pixels may start
        qsizetype run;
    };
    QString text;
    QList<QGlyphRun> runs;
    std::vector<Glyph> glyphs;
    QSizeF size;
};

// Through the text engine: itemizing, shaping, line breaking.
LaidOutLine layOutLine(const QString& text, const QFont& font);

// The progress label's keys, laid out as layOutLine lays them out, most of
// them without the text engine: shaping a key of a few characters costs the
// engine more than the rest of the label's repaint. A key of printable ASCII
// is put together from its characters' glyphs, each at the advance of the
// ones before it, when the engine itself lays out every pair of neighbours in
// the key that way (no kerning, ligature or other font between them); any
// other key goes through the engine. Each character and pair is laid out by
// the engine once.
class KeyLayout {
public:
    explicit KeyLayout(QFont font = QFont());

    const QFont& font() const { return font_; }

    LaidOutLine layOut(const QString& text);
    // Whether layOut put the text together from its characters.
    bool composes(const QString& text);

private:
    static constexpr char16_t kFirst = 0x21;  // after the blank
    static constexpr char16_t kLast = 0x7e;
    static constexpr std::size_t kCount = kLast - kFirst + 1;
    struct Single {
        quint32 index;
        qreal advance;
        qreal inkLeft;  // from where the glyph is drawn
        qreal baseline;
        QRawFont rawFont;
        qreal height;
    };
    const std::optional<Single>& single(char16_t c);
    bool pairComposes(char16_t left, char16_t right);

    QFont font_;
    std::array<std::optional<std::optional<Single>>, kCount> singles_;  // outer: laid out yet
    std::vector<signed char> pairs_;  // per pair: -1 not laid out yet, 0 no, 1 yes
};

}  // namespace ui
