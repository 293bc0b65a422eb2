#pragma once

#include <QHash>
#include <QString>

// The numbers by which the kernel side knows applications: one per
// application path, so that a number read from a socket's tag means one
// application. Traffic-control classes get minors of their own, so the
// numbers need not fit one.
//
// A forgotten application's number is never handed out again while bwcd
// runs: a socket may keep its tag for as long as it lives (an orphaned
// connection that still drains, a descriptor another process was given),
// and what it moves must never count for, or be governed as, another
// program. Every application ever seen takes one number, so the supply
// (over two thousand million) lasts beyond any real machine's churn; once it
// is spent, new applications are not numbered (their traffic is unattributed).
class AppNumbering
{
public:
    // limit: the first number that is never handed out; 0: the largest the
    // service's clients can be given.
    explicit AppNumbering(quint32 limit = 0);

    // The number of the application with this path, given a new one if it
    // has none yet; 0 when every number has been handed out.
    quint32 numberFor(const QString& path);
    // 0 when the path has no number.
    quint32 find(const QString& path) const { return m_byPath.value(path); }
    // A null string for 0, an unknown or a released number.
    QString pathOf(quint32 number) const { return m_paths.value(number); }
    int count() const { return int(m_paths.size()); }

    // The application is forgotten; its number is not used again, and its
    // path gets a new one if it comes back.
    void release(quint32 number);

    static constexpr quint32 DefaultLimit = 0x7FFFFFF0u;

private:
    quint32 m_limit;
    quint32 m_next = 1;
    QHash<QString, quint32> m_byPath;
    QHash<quint32, QString> m_paths;
};
