#pragma once

#include "basecommand.h"

#include <QObject>

#include <memory>

class BandwidthService;
class ClientPolicy;
class ServiceIO;

// Puts the service on the network: takes the process's transport server,
// hands every request it receives to the service on this thread, and gives
// the service's replies and broadcasts back to the transport.
class ServiceDaemon : public QObject
{
    Q_OBJECT
public:
    explicit ServiceDaemon(BandwidthService* service, QObject* parent = nullptr);
    ~ServiceDaemon() override;

    // Who the clients are and what each may ask for; set before start().
    // Without a policy every client may make every request.
    void setClientPolicy(std::shared_ptr<const ClientPolicy> policy);
    // Starts listening on the service port; false when the port is not free.
    bool start();
    // Gives the transport back; also done by the destructor.
    void stop();
    // Keeps the transport's thread busy for a while, for tests of what
    // happens meanwhile; returns at once.
    void holdTransport(int ms);

    // Time-out given to the transport for each reply and broadcast.
    static constexpr int SendTimeoutMs = 10000;

private slots:
    void onRequest(BaseCommandPtr command);
    void onNotification(BaseCommandPtr command);
    void send(const BaseCommandPtr& command);

private:
    BandwidthService* m_service;
    ServiceIO* m_server = nullptr;
};
