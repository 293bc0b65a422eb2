#pragma once

#include "hostexport.h"
#include "iapplication.h"

#include <QHash>
#include <QMutex>

// The host: a registry of named data sources, the factory for graph widgets
// and the service's online state, which it announces on every change.
class BWCHOST_EXPORT HostApplication : public IApplication
{
    Q_OBJECT
public:
    // Sources the host itself keeps, and their values until it publishes
    // others: the display unit (3, Kbps) and the bandwidth-control maxima in
    // bits per second.
    static constexpr const char* BandwidthUnitSource = "Application.BandwidthUnit";
    static constexpr const char* UploadMaxSource = "System.Network.BWCUploadMax";
    static constexpr const char* DownloadMaxSource = "System.Network.BWCDownloadMax";
    static constexpr quint32 DefaultBandwidthUnit = 3;
    static constexpr quint32 DefaultUploadMax = 187500;
    static constexpr quint32 DefaultDownloadMax = 1250000;

    explicit HostApplication(QObject* parent = nullptr);
    ~HostApplication() override;

    DataSourceHandle getDataSource(const QString& strName) override;
    IGraphWidget* createGraphWidget(const QUuid& id, QWidget* parent) override;

    bool isServiceOnline() const { return m_online; }
    // Emits serviceIsOnline when the state changes.
    void setServiceOnline(bool bOnline);

    // Names of the sources created so far, sorted.
    QStringList dataSourceNames() const;

private:
    static void seed(const DataSourceHandle& source);

    mutable QMutex m_mutex; // guards m_sources: sources may be asked for from any thread
    QHash<QString, DataSourceHandle> m_sources;
    bool m_online = false;
};
