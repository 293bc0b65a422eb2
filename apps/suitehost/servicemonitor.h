#pragma once

#include "basecommand.h"
#include "datasourcehandle.h"

#include <QObject>

class HostApplication;
class ServiceIO;

// The host's own line to the service. Each time its client connects it asks
// for the globals; the service counts as online once it answers, and offline
// when the connection drops. The global maxima it reports, and every change
// it announces, are published in bits per second as
// "System.Network.BWCUploadMax" and "System.Network.BWCDownloadMax".
class ServiceMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int RequestTimeoutMS = 10000;

    explicit ServiceMonitor(HostApplication* host, QObject* parent = nullptr);
    ~ServiceMonitor() override;

private slots:
    void OnConnected();
    void OnDisconnected();
    void NewCommandReceived(BaseCommandPtr cmd);
    void NewBroadcastReceived(BaseCommandPtr cmd);

private:
    void publishMaxima(qint32 nUpload, qint32 nDownload);

    HostApplication* m_host;
    ServiceIO* m_client = nullptr;
    DataSourceHandle m_uploadMax;
    DataSourceHandle m_downloadMax;
};
