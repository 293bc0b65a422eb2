#pragma once

#include "hostexport.h"

#include <QDateTime>

// When a data sample was taken, in milliseconds since the Unix epoch (UTC).
class BWCHOST_EXPORT CVNTimeStamp
{
public:
    CVNTimeStamp() = default;
    explicit CVNTimeStamp(qint64 nMSecsSinceEpoch) : m_msecs(nMSecsSinceEpoch) {}

    static CVNTimeStamp now();

    qint64 msecsSinceEpoch() const { return m_msecs; }
    QDateTime toDateTime() const;
    // A default-constructed stamp is null: the sample was never taken.
    bool isNull() const { return m_msecs == 0; }

    friend bool operator==(const CVNTimeStamp& a, const CVNTimeStamp& b)
    {
        return a.m_msecs == b.m_msecs;
    }
    friend bool operator!=(const CVNTimeStamp& a, const CVNTimeStamp& b) { return !(a == b); }
    friend bool operator<(const CVNTimeStamp& a, const CVNTimeStamp& b)
    {
        return a.m_msecs < b.m_msecs;
    }

private:
    qint64 m_msecs = 0;
};
