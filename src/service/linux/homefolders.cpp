#include "homefolders.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

bool HomeFolders::homeAt(const QString& folder, Home* home) const
{
    struct stat info;
    if (lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid == 0)
        return false;
    *home = Home{folder, {info.st_uid, info.st_gid}};
    return true;
}

QList<HomeFolders::Home> HomeFolders::all() const
{
    QList<Home> homes;
    const QStringList names = QDir(m_root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        Home home;
        if (homeAt(m_root + QLatin1Char('/') + name, &home))
            homes.append(home);
    }
    return homes;
}

bool HomeFolders::containing(const QString& path, Home* home) const
{
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(m_root + QLatin1Char('/')))
        return false;
    const QString name = clean.mid(m_root.size() + 1).section(QLatin1Char('/'), 0, 0);
    return !name.isEmpty() && homeAt(m_root + QLatin1Char('/') + name, home);
}

bool HomeFolders::isWithin(const QString& path, const QString& folder)
{
    const QString clean = QDir::cleanPath(path);
    return clean == folder || clean.startsWith(folder + QLatin1Char('/'));
}
