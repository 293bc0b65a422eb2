#include "serviceioserver.h"

#include "clientpolicy.h"
#include "commands.h"
#include "cvserver.h"
#include "peerguard.h"
#include "serviceport.h"
#include "threadwrapper.h"
#include "transportlog.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <mutex>

namespace {

// The process-wide server and the references handed out to it.
std::mutex factoryMutex;
int referenceCount = 0;
ServiceIOServer* sharedServer = nullptr;

// The policy new connections are accepted under.
std::mutex policyMutex;
std::shared_ptr<const ClientPolicy> clientPolicy;

} // namespace

void ServiceIOServer::SetClientPolicy(std::shared_ptr<const ClientPolicy> policy)
{
    std::lock_guard<std::mutex> lock(policyMutex);
    clientPolicy = std::move(policy);
}

ServiceIOServer::ServiceIOServer(QObject* parent) : ServiceIO(parent)
{
    qCDebug(lcTransport, "ServiceIOServer constructing");
    m_initialised = Init();
}

ServiceIOServer::~ServiceIOServer()
{
    qCDebug(lcTransport, "ServiceIOServer destructing");
    m_closing = true;
    // Without a thread of its own the object lets go of its sockets and timers
    // here; otherwise its thread does that as it ends (see ThreadWrapper).
    if (m_thread) {
        static_cast<ThreadWrapper<ServiceIOServer>*>(m_thread)->Stop(true);
        m_thread = nullptr;
    } else {
        TearDown();
    }
}

ServiceIOServer* ServiceIOServer::Acquire(QObject* parent)
{
    std::lock_guard<std::mutex> lock(factoryMutex);
    if (referenceCount == 0) {
        auto* wrapper = new ThreadWrapper<ServiceIOServer>(parent);
        ServiceIOServer* server = wrapper->WaitForObject(-1) ? wrapper->GetObject() : nullptr;
        if (!server) {
            wrapper->Stop(true);
            return nullptr;
        }
        server->m_thread = wrapper;
        if (!server->m_initialised) {
            delete server;
            return nullptr;
        }
        sharedServer = server;
    }
    ++referenceCount;
    return sharedServer;
}

void ServiceIOServer::Release()
{
    std::lock_guard<std::mutex> lock(factoryMutex);
    if (referenceCount <= 0) {
        qWarning("ServiceIOServer::Release() called with a zero refcount, ignoring");
        return;
    }
    if (--referenceCount == 0) {
        ServiceIOServer* server = sharedServer;
        sharedServer = nullptr;
        delete server;
    }
}

bool ServiceIOServer::Init()
{
    bool result = true;
    m_listener = new CVServer(this);
    if (!connect(m_listener, SIGNAL(newConnection()), this, SLOT(OnNewConnection()),
                 Qt::UniqueConnection)) {
        qCritical("ServiceIOServer::Init(): could not connect pipe to connection slot");
        result = false;
    } else if (!m_listener->listen(QHostAddress(QHostAddress::LocalHost),
                                   ServicePort::fromEnvironment())) {
        qCritical("ServiceIOServer::Init(): pipe open failed (%s)",
                  qPrintable(m_listener->errorString()));
        result = false;
    }
    if (!result) {
        qCritical("ServiceIOServer::Init() failed");
        return false;
    }
    m_listener->pauseAccepting();
    m_acceptNotifier =
        new QSocketNotifier(m_listener->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &ServiceIOServer::OnAcceptReady);
    return true;
}

void ServiceIOServer::OnAcceptReady()
{
    m_acceptNotifier->setEnabled(false);
    m_acceptedThisRound = 0;
    bool timedOut = false;
    // Accepts every pending connection, each reported through OnNewConnection().
    m_listener->waitForNewConnection(0, &timedOut);
    // Taking a connection re-enables the listener's own notifier.
    m_listener->pauseAccepting();
    if (m_acceptedThisRound > 0 || timedOut) {
        m_acceptRetryMS = 0;
        m_acceptNotifier->setEnabled(true);
        return;
    }
    // A connection is waiting, yet none could be taken: the process is out
    // of descriptors, or close to it. The clients already here are served
    // meanwhile; accepting resumes after a pause that grows while it lasts.
    if (m_acceptRetryMS == 0) {
        qWarning("ServiceIOServer: cannot accept connections (%s); retrying while it lasts",
                 qPrintable(m_listener->errorString().isEmpty()
                                ? QStringLiteral("out of descriptors?")
                                : m_listener->errorString()));
    }
    m_acceptRetryMS = qBound(AcceptRetryMS, m_acceptRetryMS * 2, AcceptRetryMaxMS);
    QTimer::singleShot(m_acceptRetryMS, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

int ServiceIOServer::ConnectionCount()
{
    std::lock_guard<RecursiveLock> freshLock(m_freshLock);
    std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
    return int(m_freshClients.size()) + m_clients.count();
}

QList<QTcpSocket*> ServiceIOServer::Peers()
{
    std::lock_guard<RecursiveLock> freshLock(m_freshLock);
    std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
    return m_freshClients.values() + m_clients.sockets();
}

void ServiceIOServer::TearDown()
{
    DeleteAllTimers();
    delete m_acceptNotifier;
    m_acceptNotifier = nullptr;
    // Deleted later rather than now: a disconnect notice of one of these
    // sockets may still be queued, and it must find its sender alive.
    {
        std::unique_lock<std::shared_mutex> clientsLock(m_clientsLock);
        for (QTcpSocket* socket : m_clients.sockets()) {
            socket->disconnect(this);
            socket->flush();
            socket->close();
            socket->deleteLater();
        }
        m_clients.clear();
    }
    {
        std::lock_guard<RecursiveLock> freshLock(m_freshLock);
        for (QTcpSocket* socket : std::as_const(m_freshClients))
            socket->disconnect(this);
        m_freshClients.clear();
    }
    m_peers.clear();
    if (m_listener) {
        m_listener->close();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
}

void ServiceIOServer::OnNewConnection()
{
    qCDebug(lcTransport, "ServiceIOServer::OnNewConnection() called");
    QTcpSocket* socket = m_listener ? m_listener->nextPendingConnection() : nullptr;
    if (!socket)
        return;
    ++m_acceptedThisRound;
    const int open = ConnectionCount();
    if (open >= MaxConnections) {
        if (!m_capLogged) {
            qWarning("ServiceIOServer::OnNewConnection(): %d connections open, the most this "
                     "service takes; closing new ones until some of them end",
                     open);
            m_capLogged = true;
        }
        socket->abort();
        socket->deleteLater();
        return;
    }
    // Decided now, while the client's end is certainly still connected to
    // ours, and never again: a client that closes its end early cannot leave
    // the question to a socket that is no longer its own.
    Peer& peer = m_peers[socket];
    {
        std::lock_guard<std::mutex> lock(policyMutex);
        peer.policy = clientPolicy;
    }
    if (peer.policy)
        peer.identity = peer.policy->identify(*socket);
    WatchSocket(socket);
    PeerGuard::of(socket)->startHandshakeDeadline(HandshakeDeadlineMS);
    {
        std::lock_guard<RecursiveLock> freshLock(m_freshLock);
        m_freshClients.insert(socket);
    }
    connect(socket, SIGNAL(readyRead()), this, SLOT(OnNewData()));
    // Queued: a failed write closes the socket on the spot, and its disconnect
    // must not be handled while the writer still holds the locks.
    connect(socket, SIGNAL(disconnected()), this, SLOT(OnDisconnect()), Qt::QueuedConnection);
    const BaseCommandPtr init(new BCI_InitComm);
    WriteToSocket(socket, init.data());
}

void ServiceIOServer::OnNewData()
{
    ServiceIO::OnNewData();
}

void ServiceIOServer::OnDisconnect()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket) {
        qCritical("ServiceIOServer::OnDisconnect(): can't trace the signal back to the "
                  "originating socket");
        return;
    }
    bool found = false;
    {
        std::lock_guard<RecursiveLock> freshLock(m_freshLock);
        if (m_freshClients.remove(socket)) {
            qCDebug(lcTransport,
                    "ServiceIOServer::OnDisconnect(): unauthenticated client disconnected");
            qCDebug(lcTransport, "******************************* m_freshClients.count = %d",
                    int(m_freshClients.size()));
            found = true;
        } else {
            std::unique_lock<std::shared_mutex> clientsLock(m_clientsLock);
            if (m_clients.contains(socket)) {
                const QUuid session = m_clients.uuid(socket);
                qCDebug(lcTransport, "%s",
                        qPrintable(QStringLiteral("ServiceIOServer::OnDisconnect(): client "
                                                  "%1 disconnected")
                                       .arg(session.toString())));
                m_clients.remove(socket);
                ForgetSession(session);
                qCDebug(lcTransport, "******************************* m_clients.count = %d",
                        m_clients.count());
                found = true;
            }
        }
    }
    m_peers.remove(socket);
    if (!found) {
        qCritical("ServiceIOServer::OnDisconnect(): disconnecting socket is not in our list");
        return;
    }
    // Well below the cap again: the next time it is hit is worth a line of its own.
    if (m_capLogged && ConnectionCount() < MaxConnections * 3 / 4)
        m_capLogged = false;
    socket->flush();
    socket->close();
    socket->deleteLater();
}

QUuid ServiceIOServer::GetOwnerID(QTcpSocket* socket)
{
    std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
    if (socket && m_clients.contains(socket))
        return m_clients.uuid(socket);
    qWarning("ServiceIOServer::GetOwnerID(): got queried for %s owner ID",
             socket ? "unknown" : "NULL");
    return QUuid();
}

bool ServiceIOServer::IsHandshakeComplete(QTcpSocket* socket)
{
    {
        std::lock_guard<RecursiveLock> freshLock(m_freshLock);
        if (m_freshClients.contains(socket))
            return false;
    }
    std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
    return m_clients.contains(socket);
}

bool ServiceIOServer::OnQueueRecvCommand(QTcpSocket* socket, BaseCommandPtr cmd)
{
    std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
    if (!m_clients.contains(socket)) {
        qCritical("ServiceIOServer::OnQueueRecvCommand(): socket is not in our list, dropping "
                  "incoming command (%s)",
                  cmd->GetName());
        return false;
    }
    clientsLock.unlock();
    // A client that sends faster than it is served is slowed down by reading
    // it no further (see ServiceIO::MayRead), never refused for that.
    const auto peer = m_peers.find(socket);
    if (peer == m_peers.end() || !peer->policy || peer->policy->admits(peer->identity, cmd.data()))
        return true;
    // Once per session: a client that keeps trying must not fill the log.
    if (!peer->refusalLogged) {
        qCWarning(lcTransport,
                  "ServiceIOServer: refused %s from %s; settings are unchanged (further refusals "
                  "on this connection are not logged)",
                  cmd->GetName(), qPrintable(peer->identity.description));
        peer->refusalLogged = true;
    }
    WriteToSocket(socket, cmd.data());
    return false;
}

bool ServiceIOServer::MayTakeMore(QTcpSocket* socket)
{
    const QUuid session = GetOwnerID(socket);
    return m_ledger.ofSession(session) < MaxUnclaimedPerPeer &&
           m_ledger.ofUser(session) < MaxInFlightPerUser;
}

void ServiceIOServer::OnQueueChanged(const BaseCommand& cmd, bool bSend, int count)
{
    if (bSend) {
        // Our broadcasts are nobody's requests.
        if (!cmd.HasTypeBits(BWC_BROADCAST_BITS))
            m_ledger.add(cmd.GetUuid(), count);
        return;
    }
    // What a client sends counts from its arrival until the owner has tried
    // to claim its delivery, whatever became of it in the queue meanwhile
    // (taken by a repeat or a cancel): every delivery costs the owner's
    // thread a turn, so each one holds its client back until then.
    if (count > 0 && !m_undelivered.contains(&cmd)) {
        m_undelivered.insert(&cmd, BaseCommandPtr(const_cast<BaseCommand*>(&cmd)));
        m_ledger.add(cmd.GetUuid(), 1);
    }
}

int ServiceIOServer::RetrieveCommand(BaseCommandPtr* pCmd)
{
    if (!pCmd || !*pCmd)
        return BCS_UNSUPPORTED;
    // Only the very object delivered: another request with the same number
    // (a repeat, or one from a client that came back under the same session)
    // is claimed by its own delivery, and a reply already handed back for
    // writing is the transport's alone.
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    const qsizetype at = m_recvQueue.indexOf(*pCmd);
    if (at >= 0)
        m_recvQueue.removeAt(at);
    // Either way its delivery ends here, a replaced repeat's included.
    if (m_undelivered.remove(pCmd->data())) {
        m_ledger.add((*pCmd)->GetUuid(), -1);
        RequestResume();
    }
    return at >= 0 ? 0 : BCS_WRITE_FAILED;
}

void ServiceIOServer::ForgetSession(const QUuid& session)
{
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    m_recvQueue.removeIf(
        [&](const BaseCommandPtr& queued) { return queued->GetUuid() == session; });
    m_undelivered.removeIf([&](const auto& entry) { return entry.value()->GetUuid() == session; });
    m_sendQueue.removeIf([&](const BaseCommandPtr& queued) {
        return !queued->HasTypeBits(BWC_BROADCAST_BITS) && queued->GetUuid() == session;
    });
    m_ledger.close(session);
}

void ServiceIOServer::OnProtocolCommand(QTcpSocket* socket, BaseCommandPtr cmd)
{
    if (BCI_Handshake* handshake = command_cast<BCI_Handshake>(cmd)) {
        OnHandshake(socket, cmd, handshake);
        return;
    }
    std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
    if (!m_clients.contains(socket)) {
        qCritical("ServiceIOServer::OnProtocolCommand(): socket is not in our permanent list, "
                  "dropping incoming protocol command");
    } else if (BCI_CancelCommand* cancel = command_cast<BCI_CancelCommand>(cmd)) {
        OnCancel(socket, cmd, cancel);
    } else {
        RejectCommand(socket, cmd, BCS_UNSUPPORTED,
                      "Unsupported protocol command received by server");
    }
}

void ServiceIOServer::OnHandshake(QTcpSocket* socket, const BaseCommandPtr& cmd,
                                  BCI_Handshake* handshake)
{
    std::unique_lock<RecursiveLock> freshLock(m_freshLock);
    if (!m_freshClients.contains(socket)) {
        freshLock.unlock();
        std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
        if (m_clients.contains(socket)) {
            RejectCommand(socket, cmd, BCS_NULL_COMMAND,
                          "Server received handshake command after handshake completion");
        } else {
            qCritical("ServiceIOServer::OnProtocolCommand(): socket is not in our list, dropping "
                      "incoming handshake");
        }
        return;
    }
    QUuid uuid;
    {
        std::unique_lock<std::shared_mutex> clientsLock(m_clientsLock);
        // A client keeps the uuid it proposes unless it is null or taken.
        uuid = handshake->sessionId();
        while (uuid.isNull() || m_clients.hasUuid(uuid))
            uuid = QUuid::createUuid();
        handshake->setSessionId(uuid);
        m_clients.insert(socket, uuid);
        cmd->SetUuid(uuid);
        m_freshClients.remove(socket);
        const ClientIdentity& identity = m_peers.value(socket).identity;
        m_ledger.open(uuid, identity.known ? qint64(identity.user) : InFlightLedger::NoUser);
    }
    freshLock.unlock();
    PeerGuard::of(socket)->handshakeDone();

    cmd->SetStatus(BCS_SUCCESS);
    qCDebug(lcTransport, "%s",
            qPrintable(QStringLiteral("ServiceIOServer::OnProtocolCommand(): handshake "
                                      "successful with client %1")
                           .arg(uuid.toString())));
    WriteToSocket(socket, cmd.data());
    // Replies and broadcasts held for this client can go out now.
    QTimer::singleShot(0, this, SLOT(OnQueuedToSend()));
}

void ServiceIOServer::OnCancel(QTcpSocket* socket, const BaseCommandPtr& cmd,
                               BCI_CancelCommand* cancel)
{
    // The probe carries the uuid of the socket the cancel came from, so that a
    // client can withdraw its own request and only its own.
    const BaseCommandPtr probe(new BCI_InitComm);
    probe->SetSequence(cancel->targetSequence());
    probe->SetUuid(m_clients.uuid(socket));
    const int result = ServiceIO::CancelCommand(probe);
    cmd->SetStatus(result == 0 ? BCS_SUCCESS : BCS_INVALID);
    qCDebug(lcTransport, "ServiceIOServer::OnProtocolCommand(): CancelCommand result is %d",
            result);
    WriteToSocket(socket, cmd.data());
}

void ServiceIOServer::OnQueuedToSend()
{
    QList<BaseCommandPtr> batch;
    {
        std::lock_guard<RecursiveLock> sendLock(m_sendLock);
        const qsizetype count = qMin(m_sendQueue.size(), qsizetype(MaxWritesPerPass));
        batch = m_sendQueue.mid(0, count);
        m_sendQueue.remove(0, count);
        for (const BaseCommandPtr& cmd : std::as_const(batch))
            OnQueueChanged(*cmd, true, -1);
        // The rest after the events that came meanwhile, reads among them.
        if (!m_sendQueue.isEmpty())
            QMetaObject::invokeMethod(this, "OnQueuedToSend", Qt::QueuedConnection);
    }
    bool replied = false;
    std::shared_lock<std::shared_mutex> clientsLock(m_clientsLock);
    for (const BaseCommandPtr& cmd : std::as_const(batch))
        replied = Route(cmd) || replied;
    // Their clients may have been waiting for room.
    if (replied)
        RequestResume();
}

bool ServiceIOServer::Route(const BaseCommandPtr& cmd)
{
    if (cmd->HasTypeBits(BWC_BROADCAST_BITS)) {
        for (QTcpSocket* socket : m_clients.sockets())
            WriteToSocket(socket, cmd.data());
        return false;
    }
    // A client that went took its session along; nobody is left to read this.
    if (QTcpSocket* socket = m_clients.socket(cmd->GetUuid()))
        WriteToSocket(socket, cmd.data());
    return true;
}
