#include "hostapplication.h"

#include "datasource.h"
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
    if (it == m_sources.end()) {
        it = m_sources.insert(strName, DataSourceHandle::create(strName));
        seed(it.value());
    }
    return it.value();
}

// The host's own values are there from the start, so that a module reading
// them before the host first publishes gets a real value, not an empty one.
void HostApplication::seed(const DataSourceHandle& source)
{
    const QString name = source->name();
    if (name == QLatin1String(BandwidthUnitSource))
        source->publish(QVariant::fromValue<quint32>(DefaultBandwidthUnit));
    else if (name == QLatin1String(UploadMaxSource))
        source->publish(QVariant::fromValue<quint32>(DefaultUploadMax));
    else if (name == QLatin1String(DownloadMaxSource))
        source->publish(QVariant::fromValue<quint32>(DefaultDownloadMax));
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
