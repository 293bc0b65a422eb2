#pragma once

#include "basecommand.h"

#include <QObject>
#include <QUuid>

class BandwidthService;
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

    // Starts listening on the service port; false when the port is not free.
    bool start();
    // Gives the transport back; also done by the destructor.
    void stop();

    // The TCP ports of a session's connection, the client's and ours; false
    // when the session is not connected.
    bool sessionPorts(const QUuid& session, quint16* clientPort, quint16* serverPort) const;

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
