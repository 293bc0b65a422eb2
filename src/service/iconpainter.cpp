#include "iconpainter.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

QImage IconPainter::paint(const QString& name, const QColor& colour)
{
    QImage image(Size, Size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, Size);
    gradient.setColorAt(0, colour.lighter(125));
    gradient.setColorAt(1, colour.darker(130));
    painter.setPen(QPen(colour.darker(170), 1));
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(1.5, 1.5, Size - 3, Size - 3), 7, 7);

    QFont font;
    font.setPixelSize(Size * 5 / 8);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QString letter = name.isEmpty() ? QStringLiteral("?") : name.left(1).toUpper();
    painter.drawText(QRect(0, 0, Size, Size), Qt::AlignCenter, letter);
    return image;
}
