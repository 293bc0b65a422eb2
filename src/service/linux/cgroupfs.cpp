#include "cgroupfs.h"

#include <QFile>

QString CgroupFs::mountPoint()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // ID parent major:minor root mount-point options... - type source options
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const int dash = fields.indexOf("-");
        if (dash > 4 && dash + 1 < fields.size() && fields[dash + 1] == "cgroup2")
            return QString::fromLocal8Bit(fields[4]).replace(QLatin1String("\\040"),
                                                             QLatin1String(" "));
    }
    return QString();
}

QString CgroupFs::cgroupOf(quint32 pid)
{
    QFile file(QStringLiteral("/proc/%1/cgroup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("0::"))
            return QString::fromLocal8Bit(line.mid(3));
    }
    return QString();
}

bool CgroupFs::isWithin(const QString& path, const QString& under)
{
    if (under.isEmpty() || under == QLatin1String("/"))
        return !path.isNull();
    return path == under || path.startsWith(under + QLatin1Char('/'));
}
