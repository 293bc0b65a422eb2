#include "servicedaemon.h"

#include "bandwidthservice.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "serviceioserver.h"

#include <QThread>

ServiceDaemon::ServiceDaemon(BandwidthService* service, QObject* parent)
    : QObject(parent), m_service(service)
{
    connect(m_service, &BandwidthService::commandReady, this, &ServiceDaemon::send);
}

ServiceDaemon::~ServiceDaemon()
{
    stop();
}

bool ServiceDaemon::start()
{
    if (m_server)
        return true;
    m_server = CreateServiceIO(true, nullptr);
    if (!m_server)
        return false;
    m_server->SetName("bwcd");
    // The transport signals from its own thread; the service runs on ours.
    connect(m_server, &ServiceIO::NewCommandReceived, this, &ServiceDaemon::onRequest,
            Qt::QueuedConnection);
    connect(m_server, &ServiceIO::NewBroadcastReceived, this, &ServiceDaemon::onNotification,
            Qt::QueuedConnection);
    return true;
}

void ServiceDaemon::stop()
{
    if (!m_server)
        return;
    disconnect(m_server, nullptr, this, nullptr);
    m_server->Release();
    m_server = nullptr;
}

void ServiceDaemon::holdTransport(int ms)
{
    if (m_server)
        QMetaObject::invokeMethod(
            m_server, [ms] { QThread::msleep(ms); }, Qt::QueuedConnection);
}

void ServiceDaemon::setClientPolicy(std::shared_ptr<const ClientPolicy> policy)
{
    ServiceIOServer::SetClientPolicy(std::move(policy));
}

void ServiceDaemon::onRequest(BaseCommandPtr command)
{
    // Settled first, so the transport no longer counts it as waiting for us.
    if (!m_server || m_server->RetrieveCommand(&command) != 0)
        return;
    m_service->handleCommand(command);
}

void ServiceDaemon::onNotification(BaseCommandPtr command)
{
    if (m_server && m_server->RetrieveCommand(&command) == 0)
        m_service->handleCommand(command);
}

void ServiceDaemon::send(const BaseCommandPtr& command)
{
    if (m_server)
        m_server->SendCommand(command, SendTimeoutMs);
}
