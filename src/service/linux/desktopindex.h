#pragma once

#include "safefilereader.h"

#include <QHash>
#include <QString>
#include <QStringList>

// The desktop entries (.desktop files) of some application folders, by the
// executable they launch, so that a program can be called what its menu
// entry calls it. Entries are read through a SafeFileReader: a user's
// folders with that user's rights, an entry of at most 64 KiB with lines of
// at most 4 KiB, at most 4096 names looked at below each folder.
class DesktopIndex
{
public:
    struct Entry
    {
        QString name;
        QString comment;
        QString icon;
    };

    static constexpr qint64 MaxEntryBytes = 64 * 1024;
    static constexpr qint64 MaxLineBytes = 4 * 1024;
    static constexpr int MaxDepth = 4;
    static constexpr int MaxNames = 4096;

    // Reads the entries in the given application folders, earlier folders
    // first, with the reader's rights.
    explicit DesktopIndex(const QStringList& folders,
                          const SafeFileReader& reader = SafeFileReader());

    // The entry that launches this executable (symbolic links resolved).
    bool find(const QString& executable, Entry* entry) const;

    int size() const { return int(m_byExecutable.size()); }

    // The system's application folders (not the users' own).
    static QStringList systemFolders();
    // A user's own application folder in a home.
    static QString folderIn(const QString& home);
    // The program an Exec= line runs, without environment assignments and
    // wrappers, resolved through PATH; a null string if there is none.
    static QString programOf(const QString& execLine);

private:
    void read(const SafeFileReader& reader, const QString& file);

    QHash<QString, Entry> m_byExecutable;
};
