#pragma once

#include "desktopindex.h"
#include "dpkgindex.h"
#include "process.h"

#include <QHash>
#include <QScopedPointer>

// Describes an application's executable the way a Linux user knows it: the
// name and comment of the desktop entry that launches it (else the file's
// name), the version and maintainer of the package that installed it, the
// file's size, and the entry's icon from the icon theme (else one drawn for
// it). Descriptions are kept once made.
class ProcessDescriber
{
public:
    // Empty folder lists: the system's usual places.
    explicit ProcessDescriber(const QStringList& desktopFolders = {},
                              const QString& dpkgRoot = QStringLiteral("/var/lib/dpkg"),
                              const QStringList& iconFolders = {});
    ~ProcessDescriber();

    Process describe(const QString& path) const;
    Process describeUnattributed(const QString& path) const;

    // An icon file for a desktop entry's Icon= value, or a null string.
    QString iconFile(const QString& icon) const;

private:
    const DesktopIndex& desktop() const;

    QStringList m_desktopFolders;
    QStringList m_iconFolders;
    DpkgIndex m_dpkg;
    mutable QScopedPointer<DesktopIndex> m_desktop;
    mutable QHash<QString, Process> m_cache;
};
