#include "appnumbering.h"

#include "bwcshared.h"

AppNumbering::AppNumbering(quint32 limit, qint64 quarantineMs)
    : m_limit(limit ? limit : BWC_APP_LIMIT), m_quarantineMs(quarantineMs)
{
    m_clock.start();
    m_now = [this] { return m_clock.elapsed(); };
}

quint32 AppNumbering::numberFor(const QString& path)
{
    const auto it = m_byPath.constFind(path);
    if (it != m_byPath.constEnd())
        return *it;
    quint32 number = 0;
    if (m_next < m_limit) {
        number = m_next++;
    } else {
        const qint64 now = m_now();
        qint64 oldest = now - m_quarantineMs;
        for (auto rest = m_quarantine.constBegin(); rest != m_quarantine.constEnd(); ++rest) {
            if (*rest <= oldest) {
                oldest = *rest;
                number = rest.key();
            }
        }
        if (!number)
            return 0;
        m_quarantine.remove(number);
    }
    m_byPath.insert(path, number);
    m_paths.insert(number, path);
    return number;
}

void AppNumbering::release(quint32 number)
{
    const auto it = m_paths.constFind(number);
    if (it == m_paths.constEnd())
        return;
    m_byPath.remove(*it);
    m_paths.erase(it);
    m_quarantine.insert(number, m_now());
}

void AppNumbering::sawTraffic(quint32 number)
{
    const auto it = m_quarantine.find(number);
    if (it != m_quarantine.end())
        *it = m_now();
}
