#pragma once

#include "fsidentity.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Reads files that users control the way a root service must: never
// blocking on a FIFO or a device, never following a link the user planted
// where none is wanted, never taking more than a small cap into memory, and
// (given an owner) with that user's rights only, so that nothing is read the
// owner could not read. Whatever breaks a rule is given up with one debug
// line and reads as nothing.
class SafeFileReader
{
public:
    enum class Links
    {
        Refuse, // the last component must not be a symbolic link
        Follow, // for files the system's packages install behind links
    };

    // Without an owner the reader keeps the thread's rights (root's in bwcd).
    SafeFileReader() = default;
    explicit SafeFileReader(const FsIdentity::User& owner) : m_owner(owner), m_hasOwner(true) {}

    // The whole regular file when it holds at most maxBytes.
    bool read(const QString& path, qint64 maxBytes, QByteArray* out,
              Links links = Links::Refuse) const;
    // Its lines (without their ends) when it holds at most maxBytes and no
    // line is longer than maxLine.
    bool readLines(const QString& path, qint64 maxBytes, qint64 maxLine, QList<QByteArray>* out,
                   Links links = Links::Refuse) const;
    // Regular files whose names end in suffix, in folder and its subfolders
    // down to maxDepth levels, links never followed, sorted by path. Stops
    // (with what it found so far) after looking at maxEntries names.
    QStringList listFiles(const QString& folder, const QString& suffix, int maxDepth,
                          int maxEntries) const;

    const FsIdentity::User& owner() const { return m_owner; }

private:
    int open(const QString& path, Links links) const;

    FsIdentity::User m_owner;
    bool m_hasOwner = false;
};
