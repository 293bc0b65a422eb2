#pragma once

#include "clientmap.h"
#include "serviceio.h"

#include <QSet>

#include <shared_mutex>

class BCI_CancelCommand;
class BCI_Handshake;
class CVServer;
class QSocketNotifier;

// The serving side of the transport: listens on the loopback address, opens the
// handshake with every client, files each under its session uuid, stamps what
// it receives with that uuid and routes what it sends: a reply to its client,
// a broadcast to every authenticated client. One instance serves the process.
class ServiceIOServer : public ServiceIO
{
    Q_OBJECT
public:
    explicit ServiceIOServer(QObject* parent = nullptr);
    ~ServiceIOServer() override;

    // The process's server, made on first use; null when it cannot listen.
    // Every successful call is balanced by one Release().
    static ServiceIOServer* Acquire(QObject* parent = nullptr);

    void Release() override;
    bool IsServer() const override { return true; }
    bool IsInitialised() const { return m_initialised; }
    // The TCP ports of a session's connection, the client's and ours, so that
    // the service can ask the system who owns the client's end. False when the
    // session is not connected. Safe from any thread.
    bool SessionPorts(const QUuid& session, quint16* clientPort, quint16* serverPort);

    // Directed commands kept for absent clients are dropped beyond this many queued commands.
    static constexpr int MaxHeldCommands = 4096;
    // Time-out passed when a command for an absent client goes back to the queue.
    static constexpr int HeldCommandTimeoutMS = 10000;
    // Connections served at once, handshaking or not; more are closed at once.
    static constexpr int MaxConnections = 128;
    // A connection must complete its handshake within this time.
    static constexpr int HandshakeDeadlineMS = 3000;
    // Pause after accepting failed (no descriptor left, say); it doubles up to the maximum.
    static constexpr int AcceptRetryMS = 50;
    static constexpr int AcceptRetryMaxMS = 1000;

protected slots:
    void OnNewConnection();
    void OnNewData() override;
    void OnDisconnect() override;
    void OnQueuedToSend() override;
    void OnAcceptReady();

protected:
    QUuid GetOwnerID(QTcpSocket* socket) override;
    bool IsHandshakeComplete(QTcpSocket* socket) override;
    void OnProtocolCommand(QTcpSocket* socket, BaseCommandPtr cmd) override;
    bool OnQueueRecvCommand(QTcpSocket* socket, BaseCommandPtr cmd) override;
    QList<QTcpSocket*> Peers() override;

private:
    template <class> friend class ThreadWrapper;

    bool Init();
    // Closes every socket and the listener; in the transport thread once its loop ended.
    void TearDown();
    void OnHandshake(QTcpSocket* socket, const BaseCommandPtr& cmd, BCI_Handshake* handshake);
    void OnCancel(QTcpSocket* socket, const BaseCommandPtr& cmd, BCI_CancelCommand* cancel);
    // Routes one directed command; gives whether it was written.
    bool RouteDirected(const BaseCommandPtr& cmd);
    int ConnectionCount();

    // Accepting is driven by a notifier of our own rather than the listener's,
    // so that a failing accept (no descriptor left) can back off instead of
    // being retried at once, for ever, by the event loop.
    QSocketNotifier* m_acceptNotifier = nullptr;
    int m_acceptedThisRound = 0;
    int m_acceptRetryMS = 0;
    bool m_capLogged = false;

    bool m_initialised = false;
    CVServer* m_listener = nullptr;
    ClientMap m_clients;
    // Lookups read, the handshake and disconnects write. Never taken recursively.
    std::shared_mutex m_clientsLock;
    QSet<QTcpSocket*> m_freshClients;
    RecursiveLock m_freshLock;
};
