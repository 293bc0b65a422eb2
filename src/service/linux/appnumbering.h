#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <functional>

// The small numbers by which the kernel side knows applications: one per
// application path, so that a number read from a socket's tag means one
// application. They fit a traffic-control class's minor number.
//
// A forgotten application's number is released, but a socket may still
// carry it: it is kept out of use (quarantined) until no traffic has been
// seen under it for quarantineMs, and fresh numbers are handed out first,
// so a released number is taken again only once all of them are used.
class AppNumbering
{
public:
    // limit: the first number that is never handed out.
    explicit AppNumbering(quint32 limit = 0, qint64 quarantineMs = 10 * 60 * 1000);

    // The number of the application with this path, given a new one if it
    // has none yet; 0 when every number is taken or quarantined.
    quint32 numberFor(const QString& path);
    // 0 when the path has no number.
    quint32 find(const QString& path) const { return m_byPath.value(path); }
    // A null string for 0, an unknown or a released number.
    QString pathOf(quint32 number) const { return m_paths.value(number); }
    int count() const { return int(m_paths.size()); }

    // The application is forgotten: its number rests before it is used again.
    void release(quint32 number);
    // Traffic was seen under a number: if it is resting, it starts again.
    void sawTraffic(quint32 number);
    bool isQuarantined(quint32 number) const { return m_quarantine.contains(number); }
    // Milliseconds from any start; by default a monotonic clock's (tests pass theirs).
    void setClock(const std::function<qint64()>& clock) { m_now = clock; }

private:
    quint32 m_limit;
    qint64 m_quarantineMs;
    quint32 m_next = 1;
    QHash<QString, quint32> m_byPath;
    QHash<quint32, QString> m_paths;
    QHash<quint32, qint64> m_quarantine; // number -> when it last rested anew
    QElapsedTimer m_clock;
    std::function<qint64()> m_now;
};
