#include "appnumbering.h"

AppNumbering::AppNumbering(quint32 limit) : m_limit(limit ? limit : DefaultLimit) {}

quint32 AppNumbering::numberFor(const QString& path)
{
    const auto it = m_byPath.constFind(path);
    if (it != m_byPath.constEnd())
        return *it;
    if (m_next >= m_limit)
        return 0;
    const quint32 number = m_next++;
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
}
