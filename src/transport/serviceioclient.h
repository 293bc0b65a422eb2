#pragma once

#include "serviceio.h"

#include <QAbstractSocket>
#include <QAtomicInt>

class CVSocket;

// The client side of the transport: connects to the service on the loopback
// address, reconnects every second while it is away, performs the handshake
// that names the session, writes one queued request per event-loop pass and
// cancels requests that time out.
class ServiceIOClient : public ServiceIO
{
    Q_OBJECT
public:
    explicit ServiceIOClient(QObject* parent = nullptr);
    ~ServiceIOClient() override;

    // A new client running in a thread of its own; null when it could not be made.
    static ServiceIOClient* Create(QObject* parent = nullptr);

    void Release() override;
    bool IsServer() const override { return false; }
    int SendCommand(BaseCommandPtr cmd, int nTimeoutMS, QObject* receiver = nullptr,
                    const char* member = nullptr) override;
    // Removes a request not yet written; asks the service to withdraw one that was.
    int CancelCommand(BaseCommandPtr cmd) override;

signals:
    void error(QAbstractSocket::SocketError socketError);
    void stateChanged(QAbstractSocket::SocketState socketState);

protected slots:
    bool ReInit();
    void ReConnect();
    void OnNewData() override;
    void OnDisconnect() override;
    void OnQueuedToSend() override;
    void OnCommandTimedOut(BaseCommandPtr cmd) override;
    void OnConnected();
    virtual void OnError(QAbstractSocket::SocketError socketError);
    virtual void OnStateChanged(QAbstractSocket::SocketState socketState);

protected:
    QUuid GetOwnerID(QTcpSocket* socket) override;
    bool IsHandshakeComplete(QTcpSocket* socket) override;
    void OnProtocolCommand(QTcpSocket* socket, BaseCommandPtr cmd) override;
    QList<QTcpSocket*> Peers() override;
    void ResumePeer(QTcpSocket* socket) override;

    // Milliseconds between reconnect ticks, and the ticks a hanging attempt is given.
    static constexpr int ReconnectIntervalMS = 1000;
    static constexpr int MaxConnectingTicks = 5;
    static constexpr int RemoteCancelWaitMS = 10000;
    // How long closing waits for bytes already handed to the socket to go out.
    static constexpr int FlushOnCloseMS = 1000;

private:
    template <class> friend class ThreadWrapper;

    void ScheduleReConnect();
    // Closes the socket and deletes the timers; in the transport thread once its loop ended.
    void TearDown();
    // Flushes, closes and deletes the socket; the caller holds the socket lock.
    void DropSocket();
    bool IsOnline() const;
    // Fails a request that could not be written, at once, with the writer's code.
    void FailRequest(const BaseCommandPtr& cmd, int status);

    QUuid m_sessionUuid;
    std::atomic<bool> m_handshakeComplete{false};
    // The socket's state as other threads may see it.
    std::atomic<bool> m_socketConnected{false};
    bool m_reconnecting = false;
    CVSocket* m_socket = nullptr;
    std::mutex m_socketLock;
    QAtomicInt m_reconnectPending{0};
    int m_connectingTicks = 0;
};
