#include "appaccounting.h"

#include <algorithm>

namespace {

quint32 perSecond(quint64 bytes, qint64 elapsedMs)
{
    if (elapsedMs <= 0)
        return 0;
    return quint32(std::min<quint64>(bytes * 1000 / quint64(elapsedMs), 0xFFFFFFFFu));
}

} // namespace

AppAccounting::Bytes& AppAccounting::Bytes::operator+=(const Bytes& other)
{
    sent += other.sent;
    received += other.received;
    localSent += other.localSent;
    localReceived += other.localReceived;
    return *this;
}

AppAccounting::Bytes AppAccounting::Bytes::operator-(const Bytes& other) const
{
    return {sent - other.sent, received - other.received, localSent - other.localSent,
            localReceived - other.localReceived};
}

bool AppAccounting::Bytes::operator==(const Bytes& other) const
{
    return sent == other.sent && received == other.received && localSent == other.localSent &&
           localReceived == other.localReceived;
}

void AppAccounting::begin(qint64 nowMs)
{
    m_start = nowMs;
}

void AppAccounting::add(const QString& id, const Bytes& bytes)
{
    m_records[id].interval += bytes;
}

void AppAccounting::setRunning(const QString& id, bool running)
{
    Record& record = m_records[id];
    if (running)
        record.state = State::Running;
    else if (record.state == State::Running)
        record.state = State::Ending;
}

QStringList AppAccounting::close(qint64 nowMs)
{
    const qint64 elapsed = m_start < 0 ? 0 : nowMs - m_start;
    m_start = nowMs;
    m_intervalMs = elapsed;
    QStringList over;
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        Record& record = *it;
        const Bytes bytes = std::exchange(record.interval, Bytes());
        record.total += bytes;
        m_machine += bytes;
        if (record.state == State::Ending && bytes.isZero()) {
            record.state = State::Stopped;
            over.append(it.key());
        }
        if (record.state == State::Stopped) {
            record.rates = Rates();
            continue;
        }
        record.rates = {perSecond(bytes.sent, elapsed), perSecond(bytes.received, elapsed),
                        perSecond(bytes.localSent, elapsed),
                        perSecond(bytes.localReceived, elapsed)};
    }
    return over;
}

void AppAccounting::resetTotals()
{
    for (Record& record : m_records)
        record.atReset = record.total;
}

bool AppAccounting::forget(const QString& id)
{
    const auto it = m_records.constFind(id);
    if (it == m_records.constEnd())
        return true;
    if (it->state != State::Stopped || !it->interval.isZero())
        return false;
    m_records.erase(it);
    return true;
}

bool AppAccounting::isReported(const QString& id) const
{
    const auto it = m_records.constFind(id);
    return it != m_records.constEnd() && it->state != State::Stopped;
}

AppAccounting::Rates AppAccounting::rates(const QString& id) const
{
    return m_records.value(id).rates;
}

AppAccounting::Bytes AppAccounting::total(const QString& id) const
{
    return m_records.value(id).total;
}

AppAccounting::Bytes AppAccounting::sinceReset(const QString& id) const
{
    const auto it = m_records.constFind(id);
    return it == m_records.constEnd() ? Bytes() : it->total - it->atReset;
}
