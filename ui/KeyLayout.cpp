#include "ui/KeyLayout.h"

#include <QTextLayout>
#include <limits>
#include <utility>

namespace ui {

LaidOutLine layOutLine(const QString& text, const QFont& font) {
    // As QStaticText lays out plain text, so the key looks as the lead does.
    QTextLayout layout(text, font);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLeadingIncluded(true);
    line.setLineWidth(std::numeric_limits<int>::max() / 256);  // the widest line Qt lays out: no wrapping
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    LaidOutLine laidOut{text, layout.glyphRuns(), {}, layout.boundingRect().size()};
    for (qsizetype run = 0; run < laidOut.runs.size(); ++run) {
        const QRawFont rawFont = laidOut.runs[run].rawFont();
        const QList<quint32> indexes = laidOut.runs[run].glyphIndexes();
        const QList<QPointF> positions = laidOut.runs[run].positions();
        // A glyph may reach left of where it is drawn; a pixel more for the
        // antialiasing.
        for (qsizetype i = 0; i < indexes.size(); ++i)
            laidOut.glyphs.push_back(
                {indexes[i], positions[i], positions[i].x() + rawFont.boundingRect(indexes[i]).left() - 1, run});
    }
    return laidOut;
}

KeyLayout::KeyLayout(QFont font) : font_(std::move(font)), pairs_(kCount * kCount, -1) {}

const std::optional<KeyLayout::Single>& KeyLayout::single(char16_t c) {
    std::optional<std::optional<Single>>& known = singles_[c - kFirst];
    if (!known) {
        const LaidOutLine line = layOutLine(QString(QChar(c)), font_);
        known.emplace();
        if (line.runs.size() == 1 && line.glyphs.size() == 1 && line.glyphs[0].position.x() == 0)
            *known = Single{line.glyphs[0].index,  line.size.width(),         line.glyphs[0].inkLeft,
                            line.glyphs[0].position.y(), line.runs[0].rawFont(), line.size.height()};
    }
    return *known;
}

bool KeyLayout::pairComposes(char16_t left, char16_t right) {
    signed char& known = pairs_[(left - kFirst) * kCount + (right - kFirst)];
    if (known < 0) {
        const std::optional<Single>& a = single(left);
        const std::optional<Single>& b = single(right);
        known = 0;
        if (a && b && a->rawFont == b->rawFont && a->baseline == b->baseline && a->height == b->height) {
            const LaidOutLine line = layOutLine(QString(QChar(left)) + QChar(right), font_);
            known = line.runs.size() == 1 && line.glyphs.size() == 2 && line.runs[0].rawFont() == a->rawFont &&
                    line.glyphs[0].index == a->index && line.glyphs[1].index == b->index &&
                    line.glyphs[0].position == QPointF(0, a->baseline) &&
                    line.glyphs[1].position == QPointF(a->advance, a->baseline) &&
                    line.size == QSizeF(a->advance + b->advance, a->height);
        }
    }
    return known == 1;
}

bool KeyLayout::composes(const QString& text) {
    if (text.isEmpty()) return false;
    for (const QChar c : text)
        if (c.unicode() < kFirst || c.unicode() > kLast) return false;
    if (text.size() == 1) return single(text[0].unicode()).has_value();
    for (qsizetype i = 1; i < text.size(); ++i)
        if (!pairComposes(text[i - 1].unicode(), text[i].unicode())) return false;
    return true;
}

LaidOutLine KeyLayout::layOut(const QString& text) {
    if (!composes(text)) return layOutLine(text, font_);
    LaidOutLine line;
    line.text = text;
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(text.size());
    positions.reserve(text.size());
    qreal x = 0;
    for (const QChar c : text) {
        const Single& glyph = *single(c.unicode());
        const QPointF at(x, glyph.baseline);
        indexes.push_back(glyph.index);
        positions.push_back(at);
        line.glyphs.push_back({glyph.index, at, x + glyph.inkLeft, 0});
        x += glyph.advance;
    }
    const Single& first = *single(text[0].unicode());
    QGlyphRun run;
    run.setRawFont(first.rawFont);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    line.runs.push_back(run);
    line.size = QSizeF(x, first.height);
    return line;
}

}  // namespace ui
