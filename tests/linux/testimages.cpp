#include "testimages.h"

#include <QBuffer>
#include <QImage>
#include <QtEndian>

namespace {

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

} // namespace

namespace TestImages {

QByteArray png(int side, QColor colour)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

QByteArray pngClaiming(quint32 width, quint32 height)
{
    const QByteArray ihdr =
        "IHDR" + bigEndian(width) + bigEndian(height) + QByteArray("\x08\x06\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + bigEndian(13) + ihdr + bigEndian(crc32(ihdr));
}

QByteArray nestedEntitiesSvg()
{
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n"
           "<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
           "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
           "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
           "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
           "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
           "]>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
           "<title>&e;</title></svg>\n";
}

} // namespace TestImages
