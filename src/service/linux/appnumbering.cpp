#include "appnumbering.h"

#include "bwcshared.h"

quint32 AppNumbering::numberFor(const QString& path)
{
    const auto it = m_byPath.constFind(path);
    if (it != m_byPath.constEnd())
        return *it;
    if (quint32(m_paths.size()) + 1 >= BWC_APP_LIMIT)
        return 0;
    m_paths.append(path);
    const quint32 number = quint32(m_paths.size());
    m_byPath.insert(path, number);
    return number;
}

QString AppNumbering::pathOf(quint32 number) const
{
    return number >= 1 && number <= quint32(m_paths.size()) ? m_paths[number - 1] : QString();
}
