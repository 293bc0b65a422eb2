#pragma once

#include "fsidentity.h"

#include <QList>
#include <QString>

// The users' home folders: the folders directly under a root (/home), each
// with the user who owns it. Links and folders root owns are no one's home.
class HomeFolders
{
public:
    struct Home
    {
        QString folder;
        FsIdentity::User owner;
    };

    explicit HomeFolders(const QString& root = QStringLiteral("/home")) : m_root(root) {}

    QList<Home> all() const;
    // The home the path lies in.
    bool containing(const QString& path, Home* home) const;
    // The path lies in folder (or is folder).
    static bool isWithin(const QString& path, const QString& folder);

private:
    bool homeAt(const QString& folder, Home* home) const;

    QString m_root;
};
