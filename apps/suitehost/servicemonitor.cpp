#include "servicemonitor.h"

#include "bwccommands.h"
#include "datasource.h"
#include "hostapplication.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "statuscodes.h"
#include "unitconvert.h"

ServiceMonitor::ServiceMonitor(HostApplication* host, QObject* parent)
    : QObject(parent), m_host(host),
      m_uploadMax(host->getDataSource(QStringLiteral("System.Network.BWCUploadMax"))),
      m_downloadMax(host->getDataSource(QStringLiteral("System.Network.BWCDownloadMax")))
{
    m_client = CreateServiceIO(false, nullptr);
    if (!m_client) {
        qWarning("ServiceMonitor: no transport client; the service stays offline");
        return;
    }
    m_client->SetName("suite host");
    connect(m_client, &ServiceIO::connected, this, &ServiceMonitor::OnConnected);
    connect(m_client, &ServiceIO::disconnected, this, &ServiceMonitor::OnDisconnected);
    connect(m_client, &ServiceIO::NewCommandReceived, this, &ServiceMonitor::NewCommandReceived);
    connect(m_client, &ServiceIO::NewBroadcastReceived, this,
            &ServiceMonitor::NewBroadcastReceived);
}

ServiceMonitor::~ServiceMonitor()
{
    if (m_client)
        m_client->Release();
}

void ServiceMonitor::OnConnected()
{
    // Whatever listens on the port is the service once it answers.
    m_client->SendCommand(BaseCommandPtr(new BCI_BWCGetGlobals), RequestTimeoutMS);
}

void ServiceMonitor::OnDisconnected()
{
    m_host->setServiceOnline(false);
}

void ServiceMonitor::NewCommandReceived(BaseCommandPtr cmd)
{
    m_client->RetrieveCommand(&cmd);
    const auto* globals = command_cast<BCI_BWCGetGlobals>(cmd);
    if (!globals || cmd->GetStatus() != BCS_SUCCESS)
        return;
    publishMaxima(globals->globalUploadMax(), globals->globalDownloadMax());
    m_host->setServiceOnline(true);
}

void ServiceMonitor::NewBroadcastReceived(BaseCommandPtr cmd)
{
    m_client->RetrieveCommand(&cmd);
    const auto* changed = command_cast<BCI_BWCGlobalsChanged>(cmd);
    if (changed && cmd->GetStatus() == BCS_SUCCESS)
        publishMaxima(changed->globalUploadMax(), changed->globalDownloadMax());
}

void ServiceMonitor::publishMaxima(qint32 nUpload, qint32 nDownload)
{
    // The service speaks bytes per second; "no limit" passes unconverted.
    auto bps = [](qint32 value) { return UnitConvert::BPSfromUINT(quint32(value), 4); };
    m_uploadMax->publish(bps(nUpload));
    m_downloadMax->publish(bps(nDownload));
}
