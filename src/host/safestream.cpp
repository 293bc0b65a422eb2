#include "safestream.h"

#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QtEndian>

namespace SafeStream {

qint64 remaining(const QDataStream& stream)
{
    const QIODevice* device = stream.device();
    return device ? device->bytesAvailable() : 0;
}

void readString(QDataStream& stream, QString& value)
{
    value = QString();
    quint32 bytes = 0;
    stream >> bytes;
    if (stream.status() != QDataStream::Ok || bytes == 0xFFFFFFFFu)
        return;
    if (bytes == 0) {
        value = QString(QLatin1String(""));
        return;
    }
    if (bytes & 1u) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    if (qint64(bytes) > remaining(stream)) {
        // What is there is consumed, as Qt's own reader does, and the string stays null.
        stream.skipRawData(int(remaining(stream)));
        stream.setStatus(QDataStream::ReadPastEnd);
        return;
    }
    QString text(int(bytes / 2), Qt::Uninitialized);
    char16_t* data = reinterpret_cast<char16_t*>(text.data());
    if (stream.readRawData(reinterpret_cast<char*>(data), int(bytes)) != int(bytes)) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return;
    }
    if (stream.byteOrder() == QDataStream::BigEndian)
        qFromBigEndian<char16_t>(data, text.size(), data);
    else
        qFromLittleEndian<char16_t>(data, text.size(), data);
    value = text;
}

void readPixmap(QDataStream& stream, QPixmap& value)
{
    value = QPixmap();
    qint32 present = 0;
    stream >> present;
    if (stream.status() != QDataStream::Ok || present == 0)
        return;
    QImageReader reader(stream.device(), "png");
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > MaxImagePixels) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    value = QPixmap::fromImage(image);
}

void writePixmap(QDataStream& stream, const QPixmap& value)
{
    if (value.isNull()) {
        stream << qint32(0);
        return;
    }
    stream << qint32(1);
    QImageWriter writer(stream.device(), "png");
    if (!writer.write(value.toImage()))
        stream.setStatus(QDataStream::WriteFailed);
}

} // namespace SafeStream
