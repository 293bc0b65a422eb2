#pragma once

#include <QHash>
#include <QList>
#include <QString>

// The small numbers by which the kernel side knows applications: one per
// application path, handed out in order from 1 and never reused while bwcd
// runs, so that a number read from a socket's tag always means the same
// application. They fit a traffic-control class's minor number.
class AppNumbering
{
public:
    // The number of the application with this path, given a new one if it
    // has none yet; 0 when every number is taken.
    quint32 numberFor(const QString& path);
    // 0 when the path has no number.
    quint32 find(const QString& path) const { return m_byPath.value(path); }
    // A null string for 0 or an unknown number.
    QString pathOf(quint32 number) const;
    int count() const { return int(m_paths.size()); }

private:
    QHash<QString, quint32> m_byPath;
    QList<QString> m_paths; // number - 1 -> path
};
