#pragma once

#include <QByteArray>
#include <QString>

// File names are bytes; the service shows and keys applications by text.
// This text is one-to-one with the bytes: valid UTF-8 reads as itself,
// every other byte as \xNN and a backslash as \\, so that two files never
// share a name (as they would if bad bytes became U+FFFD).
class PathText
{
public:
    static QString fromBytes(const QByteArray& bytes);
    // The bytes of a text fromBytes() gave; other text as UTF-8.
    static QByteArray toBytes(const QString& text);
};
