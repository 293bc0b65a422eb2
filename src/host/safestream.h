#pragma once

#include "hostexport.h"

#include <QDataStream>
#include <QPixmap>
#include <QString>

// Readers for the variable-length types of the wire format that never trust a
// length read from the stream for allocation: they check it against the bytes
// the stream's device still holds. The byte layout is Qt's own (QString as a
// byte count plus UTF-16BE, QPixmap as a null marker plus a PNG file).
namespace SafeStream {

// Largest picture a stream may carry, in pixels; a PNG of a few kilobytes can
// claim gigapixels, so the decoder is refused anything beyond an icon's size.
constexpr int MaxImagePixels = 512 * 512;

// Bytes left to read in the stream's device (0 without a device).
BWCHOST_EXPORT qint64 remaining(const QDataStream& stream);

BWCHOST_EXPORT void readString(QDataStream& stream, QString& value);
BWCHOST_EXPORT void readPixmap(QDataStream& stream, QPixmap& value);
BWCHOST_EXPORT void writePixmap(QDataStream& stream, const QPixmap& value);

} // namespace SafeStream
