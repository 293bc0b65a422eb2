#pragma once

#include <QHash>
#include <QList>
#include <QString>

// What each application moved, interval by interval, from byte counts the
// backend reads off its counters (never from rates multiplied by time):
// rates of the interval that just ended, totals since the service started
// and since the last reset, and traffic that never left the machine (local)
// apart from the network's.
//
// An application whose last instance ended keeps being reported while its
// counters still move: the interval in which it ended gives one more rate,
// then it is over (close() says so) and its rates are 0. A program that
// lived less than one interval thus gets one rate with all its bytes. The
// clock is the caller's: every time is in milliseconds of one monotonic clock.
class AppAccounting
{
public:
    struct Bytes
    {
        quint64 sent = 0;
        quint64 received = 0;
        quint64 localSent = 0;
        quint64 localReceived = 0;

        bool isZero() const { return !sent && !received && !localSent && !localReceived; }
        Bytes& operator+=(const Bytes& other);
        Bytes operator-(const Bytes& other) const;
        bool operator==(const Bytes& other) const;
    };
    struct Rates // bytes per second
    {
        quint32 sent = 0;
        quint32 received = 0;
        quint32 localSent = 0;
        quint32 localReceived = 0;
    };

    // The first interval starts now.
    void begin(qint64 nowMs);
    // Bytes an application moved since the last close().
    void add(const QString& id, const Bytes& bytes);
    // Whether the application has running instances. Ending it starts its
    // final interval; running it again takes it back.
    void setRunning(const QString& id, bool running);
    // Ends the interval: totals take its bytes and rates become its rates.
    // Gives the applications that ended and are now over: their final
    // interval was reported and their counters fell silent.
    QStringList close(qint64 nowMs);
    // Totals since the last reset start again from 0.
    void resetTotals();
    // Drops an application that is over; false while it is still reported.
    bool forget(const QString& id);

    // Running, or ended with its final interval not yet over.
    bool isReported(const QString& id) const;
    Rates rates(const QString& id) const;
    Bytes total(const QString& id) const;
    Bytes sinceReset(const QString& id) const;
    // What every application moved together since the start, including
    // those forgotten since.
    Bytes machineTotal() const { return m_machine; }
    // The length of the interval the current rates are of.
    qint64 intervalMs() const { return m_intervalMs; }

private:
    enum class State
    {
        Stopped,
        Running,
        Ending,
    };
    struct Record
    {
        State state = State::Stopped;
        Bytes interval;
        Bytes total;
        Bytes atReset;
        Rates rates;
    };

    QHash<QString, Record> m_records;
    Bytes m_machine;
    qint64 m_start = -1;
    qint64 m_intervalMs = 0;
};
