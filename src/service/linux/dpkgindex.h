#pragma once

#include <QHash>
#include <QString>

// What the Debian package database says about a file: which package
// installed it, in which version, and who maintains it.
class DpkgIndex
{
public:
    struct Package
    {
        QString name;
        QString version;
        QString maintainer;
        QString summary; // the first line of the description
    };

    explicit DpkgIndex(const QString& root = QStringLiteral("/var/lib/dpkg"));

    // False when no installed package owns the file.
    bool owner(const QString& file, Package* package) const;

private:
    QString packageOwning(const QString& file) const;
    bool status(const QString& name, Package* package) const;

    QString m_root;
    mutable QHash<QString, QString> m_owners; // file -> package ("" for none)
};
