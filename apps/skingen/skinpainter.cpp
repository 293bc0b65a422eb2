#include "skinpainter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

// Lit bar colours of the priority meter, highest first. The count of lit bars
// carries the level; the colour only reinforces it.
const QColor kLevelColours[4] = {QColor(0x4f, 0xd8, 0xff), QColor(0x6c, 0xdb, 0x5c),
                                 QColor(0xf0, 0xc8, 0x3c), QColor(0xf0, 0x8c, 0x3c)};

void drawTile(QPainter& p, const QRectF& rect)
{
    QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
    fill.setColorAt(0.0, QColor(0x4a, 0x4a, 0x4a));
    fill.setColorAt(0.5, QColor(0x26, 0x26, 0x26));
    fill.setColorAt(1.0, QColor(0x12, 0x12, 0x12));
    p.setPen(QPen(QColor(0x08, 0x08, 0x08), 1));
    p.setBrush(fill);
    p.drawRoundedRect(rect, 3, 3);
    // A thin highlight along the top edge gives the tile its gloss.
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(QPointF(rect.left() + 3, rect.top() + 1), QPointF(rect.right() - 3, rect.top() + 1));
}

} // namespace

QImage SkinPainter::canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage SkinPainter::priorityBox(int level)
{
    QImage image = canvas(20, 20);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawTile(p, QRectF(0.5, 0.5, 19, 19));

    p.setRenderHint(QPainter::Antialiasing, false);
    const int lit = 5 - qBound(1, level, 4);
    const QColor colour = kLevelColours[qBound(1, level, 4) - 1];
    for (int i = 0; i < 4; ++i) {
        const int height = 4 + 3 * i;
        const QRect bar(3 + 4 * i, 17 - height, 3, height);
        if (i < lit) {
            QLinearGradient fill(bar.topLeft(), bar.bottomLeft());
            fill.setColorAt(0.0, colour.lighter(135));
            fill.setColorAt(1.0, colour.darker(115));
            p.fillRect(bar, fill);
        } else {
            // Unlit bars stay as hollow outlines, readable without colour.
            p.setPen(QColor(0x6a, 0x6a, 0x6a));
            p.setBrush(QColor(0x1c, 0x1c, 0x1c));
            p.drawRect(bar.adjusted(0, 0, -1, -1));
        }
    }
    return image;
}

QImage SkinPainter::blocked()
{
    QImage image = canvas(20, 20);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient fill(QPointF(8, 6), 13);
    fill.setColorAt(0.0, QColor(0xff, 0x6a, 0x5c));
    fill.setColorAt(1.0, QColor(0xb0, 0x14, 0x14));
    p.setPen(QPen(QColor(0x40, 0x00, 0x00), 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(1, 1, 18, 18));
    // A white bar across the disc: the shape alone says "no entry".
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(4.5, 8.5, 11, 3), 1, 1);
    return image;
}

QImage SkinPainter::arrow(bool pointsLeft, bool hover)
{
    // Drawn with a one-pixel transparent margin: the style sheet uses that
    // margin as the border of a stretched border image.
    QImage image = canvas(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    if (pointsLeft) {
        path.moveTo(3, 8);
        path.lineTo(12.5, 2.5);
        path.lineTo(12.5, 13.5);
    } else {
        path.moveTo(13, 8);
        path.lineTo(3.5, 2.5);
        path.lineTo(3.5, 13.5);
    }
    path.closeSubpath();
    QLinearGradient fill(0, 2, 0, 14);
    if (hover) {
        fill.setColorAt(0.0, QColor(0x7a, 0xb2, 0xff));
        fill.setColorAt(1.0, QColor(0x00, 0x59, 0xfa));
    } else {
        fill.setColorAt(0.0, QColor(0xfa, 0xfa, 0xfa));
        fill.setColorAt(1.0, QColor(0xb8, 0xb8, 0xb8));
    }
    p.setPen(QPen(QColor(0x1a, 0x1a, 0x1a), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(path);
    return image;
}

QImage SkinPainter::magnifyingGlass()
{
    QImage image = canvas(24, 24);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x26, 0x26, 0x26);
    // Handle first, so the rim covers its inner end.
    p.setPen(QPen(ink, 4.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15, 15), QPointF(20.5, 20.5));
    p.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 16), QPointF(20, 20));

    QRadialGradient glass(QPointF(8, 7), 8);
    glass.setColorAt(0.0, QColor(0xf4, 0xfb, 0xff));
    glass.setColorAt(1.0, QColor(0x9c, 0xc8, 0xe8));
    p.setPen(QPen(ink, 2.2));
    p.setBrush(glass);
    p.drawEllipse(QPointF(10, 10), 6.6, 6.6);
    p.setPen(QPen(QColor(255, 255, 255, 220), 1.3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 6, 8, 8), 100 * 16, 70 * 16);
    return image;
}

QImage SkinPainter::legendBox(const QColor& base)
{
    QImage image = canvas(12, 12);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 12);
    fill.setColorAt(0.0, base.lighter(140));
    fill.setColorAt(1.0, base.darker(110));
    p.setPen(QPen(base.darker(200), 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, 11, 11), 2, 2);
    return image;
}

QImage SkinPainter::pluginIcon(const QColor& ink)
{
    // Three application tiles and a pair of up/down arrows in the fourth
    // corner: applications and their traffic.
    QImage image = canvas(24, 24);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRoundedRect(QRectF(1, 1, 9.5, 9.5), 2, 2);
    p.drawRoundedRect(QRectF(13.5, 1, 9.5, 9.5), 2, 2);
    p.drawRoundedRect(QRectF(1, 13.5, 9.5, 9.5), 2, 2);

    QPainterPath up;
    up.moveTo(16, 13);
    up.lineTo(19.5, 17.5);
    up.lineTo(12.5, 17.5);
    up.closeSubpath();
    p.drawPath(up);
    p.drawRect(QRectF(15, 17, 2, 6));
    QPainterPath down;
    down.moveTo(21, 23);
    down.lineTo(24, 18.5);
    down.lineTo(18, 18.5);
    down.closeSubpath();
    p.drawPath(down);
    p.drawRect(QRectF(20, 13, 2, 6));
    return image;
}
