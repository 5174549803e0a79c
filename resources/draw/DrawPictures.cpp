// Draws the window's pictures and the program icon as PNG files with an
// alpha channel. Run it once after changing a drawing and commit the PNGs:
//   tavolene_draw_pictures resources
// writes the pictures to resources/pictures, the window's icon to
// resources/icon-64.png and the desktop's icons, one drawing at every size of
// the hicolor theme's usual set, to resources/icons/hicolor/<size>/apps.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <cstdio>
#include <functional>

namespace {

const QColor kBranco(255, 255, 255);
const QColor kVermelho(182, 66, 69);
const QColor kVermelhoClaro(222, 118, 120);

// Symbols are drawn on a 256 x 256 canvas with thick round white strokes.
QPen symbolPen(qreal width = 18) { return QPen(kBranco, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void drawArrowHead(QPainter& painter, QPointF tip, QPointF direction, qreal size) {
    const QPointF normal(-direction.y(), direction.x());
    QPainterPath head;
    head.moveTo(tip);
    head.lineTo(tip - direction * size + normal * size * 0.75);
    head.lineTo(tip - direction * size - normal * size * 0.75);
    head.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBranco);
    painter.drawPath(head);
}

// A frame with an arrow leading out of it into a second frame.
void drawAbrir(QPainter& painter) {
    painter.setPen(symbolPen());
    painter.setBrush(Qt::NoBrush);
    // The first frame, open on its right side where the arrow leaves it.
    QPainterPath source;
    source.moveTo(104, 72);
    source.lineTo(40, 72);
    source.lineTo(40, 216);
    source.lineTo(104, 216);
    painter.drawPath(source);
    // The second frame, which the arrow enters.
    painter.drawRoundedRect(QRectF(140, 40, 84, 176), 10, 10);
    painter.drawLine(QPointF(80, 144), QPointF(160, 144));
    drawArrowHead(painter, QPointF(198, 144), QPointF(1, 0), 44);
}

// Two arrows pointing in opposite directions.
void drawConverter(QPainter& painter) {
    painter.setPen(symbolPen(20));
    painter.drawLine(QPointF(40, 88), QPointF(170, 88));
    painter.setPen(symbolPen(20));
    painter.drawLine(QPointF(86, 168), QPointF(216, 168));
    drawArrowHead(painter, QPointF(226, 88), QPointF(1, 0), 56);
    drawArrowHead(painter, QPointF(30, 168), QPointF(-1, 0), 56);
}

// A door frame with an arrow pointing out of it.
void drawSair(QPainter& painter) {
    painter.setPen(symbolPen());
    painter.setBrush(Qt::NoBrush);
    QPainterPath frame;
    frame.moveTo(150, 88);
    frame.lineTo(150, 36);
    frame.lineTo(44, 36);
    frame.lineTo(44, 220);
    frame.lineTo(150, 220);
    frame.lineTo(150, 168);
    painter.drawPath(frame);
    // The door itself, swung half open inside the frame.
    QPainterPath door;
    door.moveTo(44, 36);
    door.lineTo(104, 62);
    door.lineTo(104, 238);
    door.lineTo(44, 220);
    painter.setBrush(kBranco);
    painter.drawPath(door);
    painter.setPen(symbolPen());
    painter.drawLine(QPointF(128, 128), QPointF(190, 128));
    drawArrowHead(painter, QPointF(232, 128), QPointF(1, 0), 48);
}

// A stacked-disc database symbol.
void drawDiscs(QPainter& painter, const QColor& colour, const QRectF& area) {
    const qreal discHeight = area.height() * 0.22;
    const qreal gap = area.height() * 0.05;
    const qreal layer = (area.height() - discHeight) / 3;
    painter.setPen(Qt::NoPen);
    for (int i = 2; i >= 0; --i) {
        const qreal top = area.top() + i * layer;
        QPainterPath body;
        body.addRect(QRectF(area.left(), top + discHeight / 2, area.width(), layer - gap));
        body.addEllipse(QRectF(area.left(), top + layer - gap, area.width(), discHeight));
        painter.setBrush(colour);
        painter.drawPath(body.simplified());
        painter.setBrush(colour.lighter(118));
        painter.drawEllipse(QRectF(area.left(), top, area.width(), discHeight));
    }
}

void drawBanco(QPainter& painter) { drawDiscs(painter, kVermelhoClaro, QRectF(40, 24, 176, 208)); }

// White lettering on the header red.
void drawLogo(QPainter& painter) {
    QFont letters(QStringLiteral("DejaVu Sans"));
    letters.setBold(true);
    letters.setPixelSize(34);
    letters.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    QPainterPath text;
    text.addText(QPointF(14, 52), letters, QStringLiteral("Tavolene"));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBranco);
    painter.drawPath(text);
    // An underline that ends in an arrow: data moving to the centre.
    painter.setPen(symbolPen(5));
    painter.drawLine(QPointF(16, 66), QPointF(176, 66));
    drawArrowHead(painter, QPointF(196, 66), QPointF(1, 0), 14);
}

void drawIcone(QPainter& painter) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(kVermelho);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
    drawDiscs(painter, kBranco.darker(104), QRectF(14, 10, 36, 44));
}

// `drawn` is the size the drawing's coordinates are for; the picture is
// scaled from it to `size`.
bool save(const QString& folder, const char* name, QSize size, const std::function<void(QPainter&)>& draw,
          QSize drawn = QSize()) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (drawn.isValid())
        painter.scale(qreal(size.width()) / drawn.width(), qreal(size.height()) / drawn.height());
    draw(painter);
    painter.end();
    const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QString resources = QString::fromLocal8Bit(argv[1]);
    const QString pictures = resources + QStringLiteral("/pictures");
    const QSize symbol(256, 256);
    const bool written =
        save(pictures, "abrir.png", symbol, drawAbrir) && save(pictures, "converter.png", symbol, drawConverter) &&
        save(pictures, "sair.png", symbol, drawSair) && save(pictures, "banco.png", symbol, drawBanco) &&
        save(pictures, "logo.png", QSize(210, 83), drawLogo) &&
        save(resources, "icon-64.png", QSize(64, 64), drawIcone);
    bool iconsWritten = written;
    for (const int pixels : {16, 32, 48, 64, 128, 256}) {
        const QString folder = resources + QStringLiteral("/icons/hicolor/%1x%1/apps").arg(pixels);
        iconsWritten = iconsWritten && QDir().mkpath(folder) &&
                       save(folder, "tavolene.png", QSize(pixels, pixels), drawIcone, QSize(64, 64));
    }
    return iconsWritten ? 0 : 1;
}
