#include "hostapplication.h"

#include "stripchart.h"

HostApplication::HostApplication(QObject* parent) : IApplication(parent) {}

// The registry's handles go with the host; sources still held elsewhere live on.
HostApplication::~HostApplication() = default;

DataSourceHandle HostApplication::getDataSource(const QString& strName)
{
    if (strName.isEmpty())
        return DataSourceHandle();
    QMutexLocker locker(&m_mutex);
    auto it = m_sources.find(strName);
    if (it == m_sources.end())
        it = m_sources.insert(strName, DataSourceHandle::create(strName));
    return it.value();
}

IGraphWidget* HostApplication::createGraphWidget(const QUuid& id, QWidget* parent)
{
    if (id == IGraphWidget::bandwidthGraphId())
        return new StripChart(parent);
    return nullptr;
}

void HostApplication::setServiceOnline(bool bOnline)
{
    if (m_online == bOnline)
        return;
    m_online = bOnline;
    emit serviceIsOnline(bOnline);
}

QStringList HostApplication::dataSourceNames() const
{
    QMutexLocker locker(&m_mutex);
    QStringList names = m_sources.keys();
    names.sort();
    return names;
}
