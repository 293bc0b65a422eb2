#include "serviceioclient.h"

#include "commands.h"
#include "cvsocket.h"
#include "serviceport.h"
#include "threadwrapper.h"
#include "transportlog.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTimer>
#include <QtDebug>

ServiceIOClient::ServiceIOClient(QObject* parent)
    : ServiceIO(parent), m_sessionUuid(QUuid::createUuid())
{
    qCDebug(lcTransport) << "ServiceIOClient constructing" << m_sessionUuid;
    ReInit();
}

ServiceIOClient::~ServiceIOClient()
{
    qCDebug(lcTransport, "ServiceIOClient destructing");
    // Nothing is written once the owner has let go, not even what its thread
    // still finds posted for it before it ends.
    m_closing = true;
    // Without a thread of its own the object lets go of its sockets and timers
    // here; otherwise its thread does that as it ends (see ThreadWrapper).
    if (m_thread) {
        static_cast<ThreadWrapper<ServiceIOClient>*>(m_thread)->Stop(true);
        m_thread = nullptr;
    } else {
        TearDown();
    }
    std::lock_guard<std::mutex> socketLock(m_socketLock);
    m_socket = nullptr;
}

ServiceIOClient* ServiceIOClient::Create(QObject* parent)
{
    auto* wrapper = new ThreadWrapper<ServiceIOClient>(parent);
    ServiceIOClient* client = wrapper->WaitForObject(-1) ? wrapper->GetObject() : nullptr;
    if (!client) {
        wrapper->Stop(true);
        return nullptr;
    }
    client->m_thread = wrapper;
    return client;
}

void ServiceIOClient::Release()
{
    delete this;
}

void ServiceIOClient::TearDown()
{
    DeleteAllTimers();
    std::lock_guard<std::mutex> socketLock(m_socketLock);
    DropSocket();
}

void ServiceIOClient::DropSocket()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    // What was handed to the socket before the owner let go (a cancel written
    // as a request timed out, say) still goes out, within a bound.
    QDeadlineTimer deadline(FlushOnCloseMS);
    while (m_socket->state() == QAbstractSocket::ConnectedState && m_socket->bytesToWrite() > 0 &&
           m_socket->waitForBytesWritten(int(deadline.remainingTime()))) {
    }
    m_socket->flush();
    m_socket->disconnectFromHost();
    m_socket->close();
    delete m_socket;
    m_socket = nullptr;
}

bool ServiceIOClient::ReInit()
{
    {
        std::lock_guard<std::mutex> socketLock(m_socketLock);
        DropSocket();
        m_socket = new (std::nothrow) CVSocket(this);
        if (!m_socket) {
            qCCritical(lcTransport, "ServiceIOClient::ReInit() could not allocate CVSocket");
            return false;
        }
        WatchSocket(m_socket);
        connect(m_socket, SIGNAL(readyRead()), this, SLOT(OnNewData()));
        connect(m_socket, SIGNAL(disconnected()), this, SLOT(OnDisconnect()));
        connect(m_socket, SIGNAL(connected()), this, SLOT(OnConnected()));
        connect(m_socket, SIGNAL(errorOccurred(QAbstractSocket::SocketError)), this,
                SLOT(OnError(QAbstractSocket::SocketError)));
        connect(m_socket, SIGNAL(stateChanged(QAbstractSocket::SocketState)), this,
                SLOT(OnStateChanged(QAbstractSocket::SocketState)));
    }
    qCDebug(lcTransport) << "ServiceIOClient::ReInit - Scheduling ReConnect" << m_sessionUuid;
    m_reconnectPending.storeRelease(1);
    ReConnect();
    return true;
}

void ServiceIOClient::ScheduleReConnect()
{
    if (!m_reconnectPending.testAndSetOrdered(0, 1))
        return;
    qCDebug(lcTransport) << "ServiceIOClient::ReConnect - Scheduled ReConnect" << m_sessionUuid;
    QTimer::singleShot(ReconnectIntervalMS, this, SLOT(ReConnect()));
}

void ServiceIOClient::ReConnect()
{
    std::lock_guard<std::mutex> socketLock(m_socketLock);
    // A tick that nobody scheduled is ignored.
    if (!m_reconnectPending.testAndSetOrdered(1, 0))
        return;
    ++m_connectingTicks;
    if (!m_socket)
        return;
    const QAbstractSocket::SocketState state = m_socket->state();
    if (state == QAbstractSocket::ConnectingState && m_connectingTicks < MaxConnectingTicks) {
        qCDebug(lcTransport)
            << "ServiceIOClient::ReConnect - ConnectingState - Scheduling ReConnect"
            << m_sessionUuid << int(state);
        ScheduleReConnect();
        return;
    }
    m_connectingTicks = 0;
    if (state == QAbstractSocket::ConnectedState) {
        qCDebug(lcTransport) << "ServiceIOClient::ReConnect - ConnectedState " << m_sessionUuid
                             << int(state);
        m_reconnecting = false;
        emit connected();
        return;
    }
    if (m_reconnecting)
        qCDebug(lcTransport, "---->ServiceIOClient::ReConnect() - %s", Name());
    m_handshakeComplete = false;
    m_reconnecting = true;
    WatchSocket(m_socket);
    qCDebug(lcTransport, "~~~~Now Aborting Socket");
    m_socket->abort();
    qCDebug(lcTransport, "~~~~Now connecting to HOST");
    m_socket->connectToHost(QHostAddress(QHostAddress::LocalHost), ServicePort::fromEnvironment(),
                            QIODevice::ReadWrite);
    qCDebug(lcTransport) << "ServiceIOClient::ReConnect - Scheduling ReConnect" << m_sessionUuid
                         << int(m_socket->state());
    ScheduleReConnect();
}

void ServiceIOClient::OnConnected()
{
    qCDebug(lcTransport, "***************************> ServiceIOClient::OnConnect() - %s", Name());
}

void ServiceIOClient::OnDisconnect()
{
    qCDebug(lcTransport, "***************************> ServiceIOClient::OnDisconnect() - %s",
            Name());
    qCDebug(lcTransport) << "ServiceIOClient::OnDisconnect - Scheduling ReConnect" << m_sessionUuid;
    ScheduleReConnect();
    if (!m_reconnecting)
        emit disconnected();
}

void ServiceIOClient::OnError(QAbstractSocket::SocketError socketError)
{
    qCDebug(lcTransport, "ServiceIOClient::OnError - %d", int(socketError));
    emit error(socketError);
}

void ServiceIOClient::OnStateChanged(QAbstractSocket::SocketState socketState)
{
    m_socketConnected = socketState == QAbstractSocket::ConnectedState;
    qCDebug(lcTransport, "ServiceIOClient::OnStateChanged - %d", int(socketState));
    emit stateChanged(socketState);
}

void ServiceIOClient::OnNewData()
{
    std::lock_guard<std::mutex> socketLock(m_socketLock);
    ServiceIO::OnNewData();
}

QUuid ServiceIOClient::GetOwnerID(QTcpSocket* socket)
{
    Q_UNUSED(socket);
    return m_sessionUuid;
}

bool ServiceIOClient::IsHandshakeComplete(QTcpSocket* socket)
{
    Q_UNUSED(socket);
    return m_handshakeComplete;
}

QList<QTcpSocket*> ServiceIOClient::Peers()
{
    std::lock_guard<std::mutex> socketLock(m_socketLock);
    return m_socket ? QList<QTcpSocket*>{m_socket} : QList<QTcpSocket*>();
}

void ServiceIOClient::ResumePeer(QTcpSocket* socket)
{
    std::lock_guard<std::mutex> socketLock(m_socketLock);
    if (socket == m_socket)
        ReadFrom(socket);
}

bool ServiceIOClient::IsOnline() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState && m_handshakeComplete;
}

void ServiceIOClient::OnProtocolCommand(QTcpSocket* socket, BaseCommandPtr cmd)
{
    if (!m_handshakeComplete) {
        if (command_cast<BCI_InitComm>(cmd)) {
            // Written straight away: it needs no sequence, timer or queue.
            auto* handshake = new BCI_Handshake;
            const BaseCommandPtr answer(handshake);
            handshake->setSessionId(m_sessionUuid);
            WriteToSocket(socket, answer.data());
        } else if (const BCI_Handshake* handshake = command_cast<BCI_Handshake>(cmd)) {
            m_sessionUuid = handshake->sessionId();
            m_handshakeComplete = true;
            qCDebug(lcTransport, "ServiceIOClient::OnProtocolCommand(): handshake completed");
            QTimer::singleShot(0, this, SLOT(OnQueuedToSend()));
        } else {
            RejectCommand(socket, cmd, BCS_UNSUPPORTED,
                          "Unsupported protocol command received by client");
        }
        return;
    }
    if (command_cast<BCI_InitComm>(cmd) || command_cast<BCI_Handshake>(cmd)) {
        RejectCommand(socket, cmd, BCS_NULL_COMMAND,
                      "Client received handshake command after handshake completion");
    } else if (!command_cast<BCI_CancelCommand>(cmd)) {
        // A CancelCommand is the service's answer to a remote cancel; its waiter
        // has already been woken by the reading loop.
        qCWarning(lcTransport,
                  "ServiceIOClient::OnProtocolCommand() received unknown protocol command %s (%d)",
                  cmd->GetName(), int(cmd->GetType()));
    }
}

int ServiceIOClient::SendCommand(BaseCommandPtr cmd, int nTimeoutMS, QObject* receiver,
                                 const char* member)
{
    if (cmd)
        cmd->SetStatus(BCS_QUEUED);
    if (QueueCommand(cmd, nTimeoutMS, true, nullptr, receiver, member))
        return 0;
    if (cmd)
        cmd->SetStatus(BCS_SEND_FAILED);
    return BCS_NULL_COMMAND;
}

void ServiceIOClient::OnQueuedToSend()
{
    {
        std::lock_guard<RecursiveLock> sendLock(m_sendLock);
        // Until the handshake is done the queue waits; it is drained afterwards.
        // Once the owner has let go, what is left stays unwritten.
        if (m_closing || m_sendQueue.isEmpty() || !IsOnline())
            return;
        BaseCommandPtr cmd;
        if (DequeueCommand(&cmd, true)) {
            std::lock_guard<RecursiveLock> recvLock(m_recvLock);
            const int written = WriteToSocket(m_socket, cmd.data());
            if (written != 0 && !cmd->IsProtocolCommand()) {
                FailRequest(cmd, written);
            } else if (!cmd->IsProtocolCommand()) {
                // The placeholder that the reply will replace.
                cmd->SetStatus(BCS_SENT);
                QueueCommand(cmd, -1, false, nullptr, nullptr, nullptr);
            }
        }
        // One request per pass, so the event loop stays responsive while a long
        // queue drains. An empty queue needs no further pass.
        if (m_sendQueue.isEmpty())
            return;
    }
    QTimer::singleShot(0, this, SLOT(OnQueuedToSend()));
}

void ServiceIOClient::FailRequest(const BaseCommandPtr& cmd, int status)
{
    // Nothing went out, so nothing will come back: waiting for the time-out
    // would only hide why. The owner gets the request back with the reason.
    qCWarning(lcTransport, "ServiceIOClient::OnQueuedToSend(): could not write %s (%d)",
              cmd->GetName(), status);
    DelTimer(cmd);
    cmd->SetStatus(status);
    QueueCommand(cmd, -1, false, nullptr, nullptr, nullptr);
}

void ServiceIOClient::OnCommandTimedOut(BaseCommandPtr cmd)
{
    DelTimer(cmd);
    CancelCommand(cmd);
    // The owner is told the request timed out; a placeholder left behind because
    // the connection was down would otherwise stay for ever.
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    m_recvQueue.removeOne(cmd);
    // Emitted under the queue locks; see SynchronizeDelivery().
    emit CommandTimedOut(cmd);
}

int ServiceIOClient::CancelCommand(BaseCommandPtr cmd)
{
    int result = ServiceIO::CancelCommand(cmd);
    if (result != BCS_NOT_INITIALIZED) {
        qCDebug(lcTransport, "ServiceIOClient::CancelCommand(): local cancel succeeded");
        return result;
    }

    bool done = false;
    const bool inThread = InTransportThread();
    std::unique_lock<RecursiveLock> sendLock(m_sendLock);
    // Another thread cannot look at the socket itself; it goes by the state
    // the socket last reported, and the transport thread checks again as it writes.
    if (inThread ? IsOnline() : m_socketConnected && m_handshakeComplete) {
        auto* cancel = new BCI_CancelCommand;
        const BaseCommandPtr request(cancel);
        cancel->setTargetSequence(cmd->GetSequence());
        AssignSequence(request);

        std::unique_lock<std::mutex> waitLock(m_waitLock);
        if (inThread) {
            WriteToSocket(m_socket, cancel);
        } else {
            QMetaObject::invokeMethod(
                this,
                [this, request] {
                    if (WriteToSocket(m_socket, request.data()) == 0)
                        return;
                    // It never went out: the waiting caller need not wait for an answer.
                    std::lock_guard<std::mutex> lock(m_waitLock);
                    request->SetStatus(BCS_WRITE_FAILED);
                    m_replies.insert(request->GetSequence(), request);
                    for (std::condition_variable* condition :
                         m_waiters.values(request->GetSequence()))
                        condition->notify_all();
                },
                Qt::QueuedConnection);
        }
        sendLock.unlock();

        BaseCommandPtr answer = request;
        const int waited =
            inThread ? BCS_INVALID : WaitForCommandLocked(&answer, RemoteCancelWaitMS, waitLock);
        // The transport thread cannot wait, so there the request is simply
        // forgotten once the CancelCommand is on the wire. A caller on another
        // thread also counts the service's answer that it withdrew the request.
        done = waited != 0 && request->GetStatus() == BCS_SUCCESS;
        if (waited == 0 && answer != request && answer->GetStatus() == BCS_SUCCESS)
            done = true;
        if (done) {
            TakeCommand(&answer, false, false);
            BaseCommandPtr placeholder = cmd;
            TakeCommand(&placeholder, false, true);
            result = 0;
            qCDebug(lcTransport, "ServiceIOClient::CancelCommand(): remote cancel succeeded");
        }
    }
    if (!done)
        qCDebug(lcTransport,
                "ServiceIOClient::CancelCommand(): remote cancel failed, return code %d", result);
    return result;
}
