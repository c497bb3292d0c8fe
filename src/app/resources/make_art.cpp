// Draws the program's own artwork at build time:
//   quillmere.png  the application icon (64 x 64): two database drums with
//                  arrows running both ways between them;
//   icons/NxN/quillmere.png  the same icon drawn at the sizes of the desktop's
//                  icon theme (16 to 256 pixels);
//   HAND-M.CUR     the hand pointer shown over buttons, as a Windows cursor
//                  file (32 x 32, 32-bit colour with alpha, hot spot on the
//                  tip of the index finger).
//
// Usage: qm_make_art <output folder>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <cstdio>

namespace {

void drum(QPainter& p, qreal x, qreal y, qreal w, qreal h, const QColor& body)
{
    const qreal lid = h * 0.22;
    QPainterPath side;
    side.moveTo(x, y + lid / 2);
    side.lineTo(x, y + h - lid / 2);
    side.arcTo(x, y + h - lid, w, lid, 180, 180);
    side.lineTo(x + w, y + lid / 2);
    side.closeSubpath();
    p.setPen(QPen(body.darker(160), 1.5));
    p.setBrush(body);
    p.drawPath(side);
    p.setBrush(body.lighter(140));
    p.drawEllipse(QRectF(x, y, w, lid));
    // Two bands, the way drums are drawn.
    p.setBrush(Qt::NoBrush);
    for (qreal band : {0.42, 0.68}) {
        QPainterPath arc;
        arc.arcMoveTo(x, y + h * band - lid / 2, w, lid, 180);
        arc.arcTo(x, y + h * band - lid / 2, w, lid, 180, 180);
        p.drawPath(arc);
    }
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour)
{
    p.setPen(QPen(colour, 3.2, Qt::SolidLine, Qt::RoundCap));
    const qreal dir = to.x() > from.x() ? 1 : -1;
    const QPointF shaftEnd(to.x() - dir * 5, to.y());
    p.drawLine(from, shaftEnd);
    QPainterPath head;
    head.moveTo(to);
    head.lineTo(to.x() - dir * 8, to.y() - 5.5);
    head.lineTo(to.x() - dir * 8, to.y() + 5.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(head);
}

// The icon is laid out on a 64-pixel grid and drawn scaled to `size`.
QImage drawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x24, 0x4e, 0x6b));
    p.drawRoundedRect(QRectF(1, 1, 62, 62), 12, 12);
    drum(p, 6, 14, 20, 36, QColor(0x5b, 0x9b, 0xd5));  // the Access side
    drum(p, 38, 14, 20, 36, QColor(0xe8, 0xa3, 0x3d)); // the FoxPro side
    arrow(p, QPointF(24, 24), QPointF(41, 24), QColor(0xf4, 0xf4, 0xf0));
    arrow(p, QPointF(40, 40), QPointF(23, 40), QColor(0xf4, 0xf4, 0xf0));
    p.end();
    return img;
}

QImage drawHand(int& hotX, int& hotY)
{
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainterPath hand;
    hand.addRoundedRect(QRectF(7.5, 0.5, 5, 17), 2.5, 2.5);    // index finger, pointing up
    hand.addRoundedRect(QRectF(12.5, 8.5, 4.5, 10), 2.2, 2.2); // middle
    hand.addRoundedRect(QRectF(17, 9.5, 4.5, 10), 2.2, 2.2);   // ring
    hand.addRoundedRect(QRectF(21.5, 11, 4, 9), 2, 2);         // little
    hand.addRoundedRect(QRectF(7.5, 14, 18, 15.5), 4, 4);      // palm
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-2.25, -5.5, 4.5, 11), 2.2, 2.2);
    hand.addPath(QTransform().translate(6.2, 19.5).rotate(-42).map(thumb));
    hand.setFillRule(Qt::WindingFill);
    hand = hand.simplified();

    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.1));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    p.setPen(QPen(Qt::black, 0.9));
    for (qreal x : {12.5, 17.0, 21.5})
        p.drawLine(QPointF(x, 14.5), QPointF(x, 18));
    p.end();
    hotX = 10;
    hotY = 1;
    return img;
}

void put16(QByteArray& b, int v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

void put32(QByteArray& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

// A one-image .cur file: ICONDIR, one ICONDIRENTRY (hot spot in the planes
// and bit-count words), BITMAPINFOHEADER with the doubled height, the colour
// rows bottom-up as BGRA, then the 1-bit AND mask (1 = transparent).
QByteArray cursorFile(const QImage& src, int hotX, int hotY)
{
    const QImage img = src.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;
    const quint32 imageBytes = 40 + quint32(w * h * 4 + maskStride * h);

    QByteArray b;
    put16(b, 0);
    put16(b, 2);
    put16(b, 1);
    b.append(char(w));
    b.append(char(h));
    b.append(char(0)); // colour count
    b.append(char(0)); // reserved
    put16(b, hotX);
    put16(b, hotY);
    put32(b, imageBytes);
    put32(b, 22);

    put32(b, 40);
    put32(b, quint32(w));
    put32(b, quint32(h * 2));
    put16(b, 1);
    put16(b, 32);
    put32(b, 0); // no compression
    put32(b, quint32(w * h * 4 + maskStride * h));
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);

    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            b.append(char(qBlue(row[x])));
            b.append(char(qGreen(row[x])));
            b.append(char(qRed(row[x])));
            b.append(char(qAlpha(row[x])));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray line(maskStride, '\0');
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x)
            if (qAlpha(row[x]) == 0)
                line[x / 8] = char(line[x / 8] | (0x80 >> (x % 8)));
        b.append(line);
    }
    return b;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qm_make_art <output folder>\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);

    if (!drawIcon(64).save(out + QStringLiteral("/quillmere.png"), "PNG")) {
        std::fprintf(stderr, "qm_make_art: cannot write %s/quillmere.png\n", argv[1]);
        return 1;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/icons/%2x%2").arg(out).arg(size);
        if (!QDir().mkpath(folder) || !drawIcon(size).save(folder + QStringLiteral("/quillmere.png"), "PNG")) {
            std::fprintf(stderr, "qm_make_art: cannot write %s\n", qPrintable(folder + QStringLiteral("/quillmere.png")));
            return 1;
        }
    }
    int hotX = 0, hotY = 0;
    const QImage hand = drawHand(hotX, hotY);
    if (!writeFile(out + QStringLiteral("/HAND-M.CUR"), cursorFile(hand, hotX, hotY))) {
        std::fprintf(stderr, "qm_make_art: cannot write %s/HAND-M.CUR\n", argv[1]);
        return 1;
    }
    return 0;
}
