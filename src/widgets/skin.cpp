#include "skin.h"

#include <QPixmapCache>

namespace Skin {

QPixmap image(const QString& path)
{
    QPixmap image;
    if (!QPixmapCache::find(path, &image) && image.load(path))
        QPixmapCache::insert(path, image);
    return image;
}

QColor uploadColour()
{
    return QColor(232, 151, 0, 255);
}

QColor downloadColour()
{
    return QColor(90, 155, 2, 255);
}

QString uploadLegendPath()
{
    return QStringLiteral("skins/shinyblack/orangebox.png");
}

QString downloadLegendPath()
{
    return QStringLiteral("skins/shinyblack/greenbox.png");
}

QColor darkShade()
{
    return QColor(0x22, 0x22, 0x22);
}

QColor lightShade()
{
    return QColor(0x55, 0x55, 0x55);
}

QColor selectedShade()
{
    return QColor(0xd3, 0xd3, 0xd3); // CSS lightgray
}

QColor nameOnline()
{
    return QColor(Qt::white);
}

QColor nameOffline()
{
    return QColor(0xa9, 0xa9, 0xa9); // CSS darkgray
}

QColor nameSelected()
{
    return QColor(Qt::black);
}

QColor disabledText()
{
    return QColor(0x80, 0x80, 0x80); // CSS grey
}

} // namespace Skin
