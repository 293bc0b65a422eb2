#include "dpkgindex.h"

#include <QDir>
#include <QFile>

DpkgIndex::DpkgIndex(const QString& root) : m_root(root) {}

bool DpkgIndex::owner(const QString& file, Package* package) const
{
    const QString name = packageOwning(file);
    return !name.isEmpty() && status(name, package);
}

QString DpkgIndex::packageOwning(const QString& file) const
{
    const auto known = m_owners.constFind(file);
    if (known != m_owners.constEnd())
        return *known;
    // With merged /usr a package may list /bin/x for what runs as /usr/bin/x.
    QList<QByteArray> forms{file.toUtf8()};
    if (file.startsWith(QLatin1String("/usr/")))
        forms.append(file.mid(4).toUtf8());
    else
        forms.append(QByteArray("/usr") + file.toUtf8());
    QString found;
    const QDir info(m_root + QLatin1String("/info"));
    const QStringList lists = info.entryList({QStringLiteral("*.list")}, QDir::Files);
    for (const QString& list : lists) {
        QFile in(info.filePath(list));
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray all = in.readAll();
        for (const QByteArray& form : forms) {
            const qsizetype at = all.indexOf(form + '\n');
            if (at >= 0 && (at == 0 || all[at - 1] == '\n')) {
                found = list.chopped(5).section(QLatin1Char(':'), 0, 0);
                break;
            }
        }
        if (!found.isEmpty())
            break;
    }
    // Only root's files are looked up, but they are many: the memory stays small.
    if (m_owners.size() >= 4096)
        m_owners.clear();
    m_owners.insert(file, found);
    return found;
}

bool DpkgIndex::status(const QString& name, Package* package) const
{
    QFile in(m_root + QLatin1String("/status"));
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QByteArray wanted = "Package: " + name.toUtf8();
    bool inside = false;
    Package found;
    while (!in.atEnd()) {
        QByteArray line = in.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.isEmpty()) {
            if (inside)
                break;
            continue;
        }
        if (line.startsWith("Package: ")) {
            inside = line == wanted;
            if (inside)
                found.name = name;
            continue;
        }
        if (!inside)
            continue;
        if (line.startsWith("Version: "))
            found.version = QString::fromUtf8(line.mid(9));
        else if (line.startsWith("Maintainer: "))
            found.maintainer = QString::fromUtf8(line.mid(12));
        else if (line.startsWith("Description: "))
            found.summary = QString::fromUtf8(line.mid(13));
    }
    if (found.name.isEmpty())
        return false;
    *package = found;
    return true;
}
