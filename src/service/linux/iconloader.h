#pragma once

#include "safefilereader.h"

#include <QImage>
#include <QString>

// Loads an icon file that a user may have named: at most MaxBytes read
// (through SafeFileReader, so with the reader's identity), the picture's
// size checked from its header before anything is decoded, decoding held to
// a small allocation, and SVG documents that declare entities (which expand
// without bound) refused. A null image for anything else.
class IconLoader
{
public:
    static constexpr qint64 MaxBytes = 1024 * 1024;
    static constexpr int MaxSide = 1024;

    static QImage load(const SafeFileReader& reader, const QString& path,
                       SafeFileReader::Links links);
    // The same for bytes already read; name only says what is given up on.
    static QImage decode(const QByteArray& data, const QString& name);
};
