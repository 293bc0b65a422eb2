#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The desktop entries (.desktop files) of the system and of its users, by
// the executable they launch, so that a program can be called what its menu
// entry calls it.
class DesktopIndex
{
public:
    struct Entry
    {
        QString name;
        QString comment;
        QString icon;
    };

    // Reads the entries in the given application folders, earlier folders
    // first; with none, the system's usual ones.
    explicit DesktopIndex(const QStringList& folders = {});

    // The entry that launches this executable (symbolic links resolved).
    bool find(const QString& executable, Entry* entry) const;

    static QStringList defaultFolders();
    // The program an Exec= line runs, without environment assignments and
    // wrappers, resolved through PATH; a null string if there is none.
    static QString programOf(const QString& execLine);

private:
    void read(const QString& file);

    QHash<QString, Entry> m_byExecutable;
};
