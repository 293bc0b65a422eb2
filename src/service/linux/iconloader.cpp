#include "iconloader.h"

#include <QBuffer>
#include <QImageReader>
#include <QtDebug>

namespace {

// Megabytes a decoder may allocate: a picture of MaxSide squared in 32 bits,
// with room for the decoder's own buffers.
constexpr int AllocationLimitMb = 8;

QImage refuse(const QString& name, const char* why)
{
    qDebug("IconLoader: not using %s: %s", qPrintable(name), why);
    return QImage();
}

} // namespace

QImage IconLoader::load(const SafeFileReader& reader, const QString& path,
                        SafeFileReader::Links links)
{
    QByteArray data;
    if (!reader.read(path, MaxBytes, &data, links))
        return QImage();
    return decode(data, path);
}

QImage IconLoader::decode(const QByteArray& data, const QString& name)
{
    if (data.contains("<!ENTITY"))
        return refuse(name, "a document that declares entities");
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    QImageReader::setAllocationLimit(AllocationLimitMb);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxSide || size.height() > MaxSide)
        return refuse(name, "no picture, or larger than allowed");
    QImage image;
    if (!reader.read(&image))
        return refuse(name, "cannot be decoded");
    return image;
}
