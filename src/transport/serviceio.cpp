#include "serviceio.h"

#include "basecommandtimer.h"
#include "peerguard.h"
#include "transportlog.h"

#include <QEvent>
#include <QTcpSocket>
#include <QThread>
#include <QtEndian>

#include <chrono>

namespace {

// Whether a queued command stands for the same request as another: same
// sequence, same kind (reply or broadcast) and, on the server, the same client.
bool SameRequest(const BaseCommand* queued, const BaseCommand* cmd, bool server)
{
    return queued->GetSequence() == cmd->GetSequence() &&
           queued->HasTypeBits(BWC_BROADCAST_BITS) == cmd->HasTypeBits(BWC_BROADCAST_BITS) &&
           (!server || queued->GetUuid() == cmd->GetUuid());
}

} // namespace

ServiceIO::ServiceIO(QObject* parent) : QObject(parent)
{
    connect(this, SIGNAL(NewCommandQueuedToSend()), this, SLOT(OnQueuedToSend()));
    connect(this, SIGNAL(ScheduleAddTimer(BaseCommandPtr, int, QObject*, const char*)), this,
            SLOT(AddTimer(BaseCommandPtr, int, QObject*, const char*)));
}

ServiceIO::~ServiceIO()
{
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    qCDebug(lcTransport, "ServiceIO destructing, %d/%d messages in send/receive queue",
            int(m_sendQueue.size()), int(m_recvQueue.size()));
    const auto dump = [](QList<BaseCommandPtr>& queue, const char* title) {
        if (queue.isEmpty())
            return;
        qCWarning(lcTransportQueues, "%s", title);
        while (!queue.isEmpty()) {
            const BaseCommandPtr cmd = queue.takeFirst();
            qCDebug(lcTransportQueues, "   * %s, status %d", cmd->GetName(), int(cmd->GetStatus()));
        }
    };
    dump(m_sendQueue, " --> send queue dump:");
    dump(m_recvQueue, " --> receive queue dump:");
}

int ServiceIO::QueuedCount()
{
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    return int(m_sendQueue.size() + m_recvQueue.size());
}

void ServiceIO::SetName(const char* name)
{
    m_name.store(name ? name : "unknown", std::memory_order_release);
}

bool ServiceIO::InTransportThread() const
{
    return QThread::currentThread() == thread();
}

void ServiceIO::AssignSequence(BaseCommandPtr cmd)
{
    if (!cmd)
        return;
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    std::lock_guard<RecursiveLock> sequenceLock(m_sequenceLock);
    const auto inUse = [](const QList<BaseCommandPtr>& queue, quint32 sequence) {
        for (const BaseCommandPtr& queued : queue) {
            if (queued->GetSequence() == sequence)
                return true;
        }
        return false;
    };
    quint32 next = m_lastSequence;
    do {
        if (++next == 0)
            next = 1;
    } while (inUse(m_sendQueue, next) || inUse(m_recvQueue, next));
    m_lastSequence = next;
    cmd->SetSequence(next);
}

bool ServiceIO::EnqueueCommand(BaseCommandPtr cmd, int nTimeoutMS, bool bSend, QTcpSocket* socket,
                               QObject* receiver, const char* member)
{
    if (!cmd) {
        qCWarning(lcTransport,
                  "ServiceIO::EnqueueCommand(): ignoring attempt to queue NULL command");
        return false;
    }
    const bool server = IsServer();
    // Looked up before the queue locks are taken: the server's clients lock comes first.
    const QUuid owner = !bSend && server ? GetOwnerID(socket) : QUuid();

    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    if (bSend) {
        // A server's reply keeps its request's number; everything else gets a new one.
        if (!server || cmd->HasTypeBits(BWC_BROADCAST_BITS))
            AssignSequence(cmd);
        m_sendQueue.append(cmd);
        OnQueueChanged(*cmd, true, 1);
        if (!server)
            AddTimer(cmd, nTimeoutMS, receiver, member);
        return true;
    }
    if (server)
        cmd->SetUuid(owner);
    // A reply takes the place of its request's placeholder; a repeated request
    // from the same client takes the place of the older one. That one's
    // delivery is still on its way to the owner, so it stays counted (see
    // OnQueueChanged) until the owner has tried to claim it.
    m_recvQueue.removeIf([&](const BaseCommandPtr& queued) {
        return SameRequest(queued.data(), cmd.data(), server);
    });
    m_recvQueue.append(cmd);
    OnQueueChanged(*cmd, false, 1);
    return true;
}

bool ServiceIO::QueueCommand(BaseCommandPtr cmd, int nTimeoutMS, bool bSend, QTcpSocket* socket,
                             QObject* receiver, const char* member)
{
    const bool broadcast = cmd && cmd->HasTypeBits(BWC_BROADCAST_BITS);
    const bool placeholder = cmd && cmd->GetStatus() == BCS_SENT;
    if (!EnqueueCommand(cmd, nTimeoutMS, bSend, socket, receiver, member))
        return false;
    if (bSend) {
        emit NewCommandQueuedToSend();
        return true;
    }
    if (placeholder && !broadcast)
        return true;
    // Emitted under the queue locks; see SynchronizeDelivery().
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    if (broadcast)
        emit NewBroadcastReceived(cmd);
    else
        emit NewCommandReceived(cmd);
    return true;
}

void ServiceIO::SynchronizeDelivery()
{
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
}

bool ServiceIO::event(QEvent* event)
{
    // Calls queued from an owner's thread (timers to arm, a remote cancel to
    // write) are posted while that thread holds the send lock. Taking it here,
    // before the event is even looked at, orders them the way Qt's event queue
    // already does, in terms a thread checker can follow. No event reaches this
    // object while its thread holds a lock that comes before the send lock.
    {
        std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    }
    return QObject::event(event);
}

bool ServiceIO::DequeueCommand(BaseCommandPtr* out, bool bSend)
{
    std::lock_guard<RecursiveLock> lock(bSend ? m_sendLock : m_recvLock);
    QList<BaseCommandPtr>& queue = bSend ? m_sendQueue : m_recvQueue;
    if (queue.isEmpty())
        return false;
    *out = queue.takeFirst();
    OnQueueChanged(**out, bSend, -1);
    if (!bSend)
        RequestResume();
    return true;
}

BaseCommandPtr ServiceIO::FindCommand(BaseCommandPtr cmd, bool bSend)
{
    if (!cmd)
        return {};
    std::lock_guard<RecursiveLock> lock(bSend ? m_sendLock : m_recvLock);
    const QList<BaseCommandPtr>& queue = bSend ? m_sendQueue : m_recvQueue;
    for (auto it = queue.crbegin(); it != queue.crend(); ++it) {
        if (it->data() == cmd.data())
            return *it;
    }
    const bool server = IsServer();
    for (const BaseCommandPtr& queued : queue) {
        if (SameRequest(queued.data(), cmd.data(), server))
            return queued;
    }
    return {};
}

bool ServiceIO::TakeCommand(BaseCommandPtr* pCmd, bool bSend, bool bEvenIfSent)
{
    if (!pCmd || !*pCmd)
        return false;
    std::lock_guard<RecursiveLock> lock(bSend ? m_sendLock : m_recvLock);
    const BaseCommandPtr found = FindCommand(*pCmd, bSend);
    if (!found)
        return false;
    // A client's written request stays queued as the placeholder of its reply.
    const bool keep = !bEvenIfSent && !bSend && !IsServer() && (*pCmd)->GetStatus() == BCS_SENT;
    if (!keep) {
        (bSend ? m_sendQueue : m_recvQueue).removeOne(found);
        OnQueueChanged(*found, bSend, -1);
        if (!bSend)
            RequestResume();
    }
    *pCmd = found;
    return true;
}

int ServiceIO::SendCommand(BaseCommandPtr cmd, int nTimeoutMS, QObject* receiver,
                           const char* member)
{
    return QueueCommand(cmd, nTimeoutMS, true, nullptr, receiver, member) ? 0 : BCS_NULL_COMMAND;
}

int ServiceIO::GetNextCommand(BaseCommandPtr* pCmd)
{
    if (!pCmd)
        return BCS_UNSUPPORTED;
    return DequeueCommand(pCmd, false) ? 0 : BCS_WRITE_FAILED;
}

int ServiceIO::RetrieveCommand(BaseCommandPtr* pCmd)
{
    if (!pCmd)
        return BCS_UNSUPPORTED;
    if (TakeCommand(pCmd, false, false))
        return 0;
    const BaseCommandPtr queued = FindCommand(*pCmd, true);
    if (!queued)
        return BCS_WRITE_FAILED;
    *pCmd = queued;
    if (!IsServer())
        DelTimer(queued);
    return 0;
}

int ServiceIO::CancelCommand(BaseCommandPtr cmd)
{
    if (!cmd)
        return BCS_UNSUPPORTED;
    if (cmd->GetSequence() == 0)
        return BCS_INCOMPLETE;
    BaseCommandPtr target = cmd;
    return TakeCommand(&target, !IsServer(), false) ? 0 : BCS_NOT_INITIALIZED;
}

int ServiceIO::WaitForCommand(BaseCommandPtr* pCmd, int nTimeoutMS)
{
    std::unique_lock<std::mutex> waitLock(m_waitLock);
    return WaitForCommandLocked(pCmd, nTimeoutMS, waitLock);
}

int ServiceIO::WaitForCommandLocked(BaseCommandPtr* pCmd, int nTimeoutMS,
                                    std::unique_lock<std::mutex>& waitLock)
{
    // Only the transport thread delivers replies, so it could never be woken.
    if (InTransportThread()) {
        qCCritical(lcTransport,
                   "ServiceIO::WaitForCommand(): can't wait for command completion from within "
                   "the ServiceIO thread");
        return BCS_INVALID;
    }
    if (!pCmd || !*pCmd)
        return BCS_UNSUPPORTED;
    if (TakeCommand(pCmd, false, false))
        return 0;

    const quint32 sequence = (*pCmd)->GetSequence();
    std::condition_variable woken;
    m_waiters.insert(sequence, &woken);
    const auto arrived = [&] { return m_replies.contains(sequence); };
    bool ok = true;
    if (nTimeoutMS < 1)
        woken.wait(waitLock, arrived);
    else
        ok = woken.wait_for(waitLock, std::chrono::milliseconds(nTimeoutMS), arrived);
    if (ok)
        *pCmd = m_replies.value(sequence);
    m_waiters.remove(sequence, &woken);
    if (!m_waiters.contains(sequence))
        m_replies.remove(sequence);
    return ok ? 0 : BCS_TIMED_OUT;
}

void ServiceIO::RejectCommand(QTcpSocket* socket, BaseCommandPtr cmd, int nStatus,
                              const char* reason)
{
    if (!cmd)
        return;
    // Our own rejection coming back: answering it would ping-pong for ever.
    if (cmd->GetStatus() == nStatus) {
        qCWarning(lcTransport,
                  "ServiceIO::RejectCommand(%s, %d): Received rejected command from remote side",
                  cmd->GetName(), nStatus);
        return;
    }
    qCWarning(lcTransport, "ServiceIO::RejectCommand(%s, %d): %s", cmd->GetName(), nStatus, reason);
    cmd->SetStatus(nStatus);
    WriteToSocket(socket, cmd.data());
}

int ServiceIO::WriteToSocket(QTcpSocket* socket, const BaseCommand* cmd)
{
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    if (m_closing || !socket || socket->state() != QAbstractSocket::ConnectedState)
        return BCS_WRITE_FAILED;
    const int result = BaseCommand::WriteCommand(cmd, socket);
    if (socket->bytesToWrite() > MaxPendingWriteBytes) {
        qCWarning(lcTransport,
                  "ServiceIO%s::WriteToSocket(): peer is not reading (%lld bytes pending), "
                  "closing the connection",
                  IsServer() ? "Server" : "Client", socket->bytesToWrite());
        socket->abort();
    }
    return result;
}

bool ServiceIO::OnQueueRecvCommand(QTcpSocket* socket, BaseCommandPtr cmd)
{
    Q_UNUSED(socket);
    Q_UNUSED(cmd);
    return true;
}

void ServiceIO::WatchSocket(QTcpSocket* socket)
{
    socket->setReadBufferSize(ReadBufferBytes);
    PeerGuard* guard = PeerGuard::of(socket);
    guard->reset();
    connect(guard, &PeerGuard::expired, this, &ServiceIO::OnPeerExpired, Qt::UniqueConnection);
    connect(socket, &QTcpSocket::bytesWritten, this, &ServiceIO::OnBytesWritten,
            Qt::UniqueConnection);
}

int ServiceIO::InFlight()
{
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    // The client's own placeholders are not the service's doing.
    return int(
        std::count_if(m_recvQueue.cbegin(), m_recvQueue.cend(), [](const BaseCommandPtr& queued) {
            return queued->GetStatus() != BCS_SENT;
        }));
}

bool ServiceIO::MayTakeMore(QTcpSocket* socket)
{
    Q_UNUSED(socket);
    return InFlight() < MaxUnclaimedPerPeer;
}

void ServiceIO::OnQueueChanged(const BaseCommand& cmd, bool bSend, int count)
{
    Q_UNUSED(cmd);
    Q_UNUSED(bSend);
    Q_UNUSED(count);
}

bool ServiceIO::MayRead(QTcpSocket* socket)
{
    if (socket->bytesToWrite() >= PauseWriteBytes)
        return false;
    // Before the handshake a peer has nothing queued: whatever it sends is
    // answered at once, and those answers are counted in bytes.
    return !IsHandshakeComplete(socket) || MayTakeMore(socket);
}

void ServiceIO::RequestResume()
{
    if (!m_anyPaused.load() || m_resumePending.exchange(true))
        return;
    // Posted by name: the call is then made of nothing but what Qt allocates
    // itself, so no lock needs to order it for a thread checker (callers may
    // hold the wait or receive lock, which come after the send lock).
    QMetaObject::invokeMethod(this, "ResumeReading", Qt::QueuedConnection);
}

void ServiceIO::ResumeReading()
{
    m_resumePending = false;
    m_anyPaused = false;
    const QList<QTcpSocket*> peers = Peers();
    for (QTcpSocket* socket : peers) {
        const auto* guard = socket->findChild<PeerGuard*>(QString(), Qt::FindDirectChildrenOnly);
        if (guard && guard->isPaused())
            ResumePeer(socket);
    }
}

void ServiceIO::ResumePeer(QTcpSocket* socket)
{
    ReadFrom(socket);
}

void ServiceIO::OnBytesWritten()
{
    // Only noted here: this may run inside a write, with the locks held.
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    const auto* guard =
        socket ? socket->findChild<PeerGuard*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (guard && guard->isPaused() && socket->bytesToWrite() < PauseWriteBytes)
        RequestResume();
}

void ServiceIO::OnPeerExpired(QTcpSocket* socket, const char* why)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    qCDebug(lcTransport,
            "ServiceIO%s: closing a connection whose peer did not complete its %s in time",
            IsServer() ? "Server" : "Client", why);
    socket->abort();
}

void ServiceIO::OnNewData()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket) {
        qCCritical(lcTransport,
                   "ServiceIO::OnNewData(): can't trace the signal back to the originating socket");
        return;
    }
    ReadFrom(socket);
}

void ServiceIO::ReadFrom(QTcpSocket* socket)
{
    PeerGuard* guard = PeerGuard::of(socket);
    bool consumed = false;
    for (;;) {
        // A peer with too much in flight waits, its bytes left in the socket,
        // until its owner or its reading catches up (RequestResume). The flag
        // is raised before the second look so that a catch-up in between is
        // not missed.
        if (!MayRead(socket)) {
            m_anyPaused = true;
            if (!MayRead(socket)) {
                guard->setPaused(true);
                return;
            }
        }
        guard->setPaused(false);
        BaseCommandPtr cmd;
        const int result = BaseCommand::ReadCommand(socket, &cmd);
        if (result == BCS_INCOMPLETE) {
            guard->watchFrame(socket->bytesAvailable() > 0, consumed, FrameDeadlineMS);
            RearmReading(socket);
            return;
        }
        consumed = true;
        if (result == 0) {
            HandleReceived(socket, cmd);
            continue;
        }
        qCWarning(lcTransport, "ServiceIO%s::OnNewData(): error receiving command (%d)",
                  IsServer() ? "Server" : "Client", result);
        if (result == BCS_TIMED_OUT && SkipUnknownFrame(socket))
            continue;
        if (result == BCS_INVALID || result == BCS_TIMED_OUT) {
            // Without a trustworthy length there is no next frame to find.
            qCWarning(lcTransport,
                      "ServiceIO%s::OnNewData(): frame boundary lost, closing the connection",
                      IsServer() ? "Server" : "Client");
            guard->reset();
            socket->abort();
            return;
        }
        // Any other failure has consumed its frame; the next one is intact.
    }
}

void ServiceIO::RearmReading(QTcpSocket* socket)
{
    // A socket whose read buffer fills up stops taking bytes from the system,
    // and Qt takes up again only once a read empties the buffer. Frames are
    // read whole, so the start of a frame left behind keeps the buffer from
    // ever emptying: the rest of that frame would stay in the kernel until the
    // frame deadline closed a healthy connection. Setting the size anew
    // re-arms reading up to the same bound (nothing runs in between).
    if (socket->bytesAvailable() == 0 || socket->bytesAvailable() >= ReadBufferBytes)
        return;
    socket->setReadBufferSize(0);
    socket->setReadBufferSize(ReadBufferBytes);
}

bool ServiceIO::SkipUnknownFrame(QTcpSocket* socket)
{
    uchar prefix[8];
    if (socket->peek(reinterpret_cast<char*>(prefix), 8) != 8)
        return false;
    const quint32 length = qFromBigEndian<quint32>(prefix);
    const quint32 type = qFromBigEndian<quint32>(prefix + 4);
    if (length < BaseCommand::MinFrameLength || length > BaseCommand::MaxFrameLength ||
        socket->bytesAvailable() < qint64(length))
        return false;
    qCWarning(lcTransport,
              "ServiceIO%s::OnNewData(): dropping a frame of unknown type %u (%u bytes)",
              IsServer() ? "Server" : "Client", type, length);
    return socket->skip(length) == qint64(length);
}

void ServiceIO::HandleReceived(QTcpSocket* socket, const BaseCommandPtr& cmd)
{
    // A broadcast's number comes from the server's own counter and says nothing
    // about our requests, so only replies wake waiters and stop timers.
    if (!IsServer() && !cmd->HasTypeBits(BWC_BROADCAST_BITS)) {
        BaseCommandTimer* timer = nullptr;
        {
            std::lock_guard<std::mutex> waitLock(m_waitLock);
            const quint32 sequence = cmd->GetSequence();
            const QList<std::condition_variable*> waiting = m_waiters.values(sequence);
            if (!waiting.isEmpty()) {
                m_replies.insert(sequence, cmd);
                for (std::condition_variable* condition : waiting)
                    condition->notify_all();
            }
            timer = TakeTimer(sequence);
        }
        // Deleted once the locks are released: losing a child sends this object an event.
        delete timer;
    }
    if (cmd->IsProtocolCommand()) {
        OnProtocolCommand(socket, cmd);
        return;
    }
    if (IsHandshakeComplete(socket)) {
        if (OnQueueRecvCommand(socket, cmd))
            QueueCommand(cmd, -1, false, socket, nullptr, nullptr);
        return;
    }
    if (cmd->GetStatus() == BCS_NOT_INITIALIZED) {
        qCWarning(lcTransport,
                  "ServiceIO::OnNewData(): Received BCS_NOT_INITIALIZED from remote side");
        return;
    }
    qCWarning(lcTransport,
              "ServiceIO::OnNewData(): Command received before handshake completion, rejecting");
    cmd->SetStatus(BCS_NOT_INITIALIZED);
    WriteToSocket(socket, cmd.data());
}

bool ServiceIO::IsHeld(const BaseCommand* cmd)
{
    std::lock_guard<RecursiveLock> sendLock(m_sendLock);
    std::lock_guard<RecursiveLock> recvLock(m_recvLock);
    const auto holds = [cmd](const QList<BaseCommandPtr>& queue) {
        return std::any_of(queue.cbegin(), queue.cend(),
                           [cmd](const BaseCommandPtr& queued) { return queued.data() == cmd; });
    };
    return holds(m_sendQueue) || holds(m_recvQueue);
}

void ServiceIO::AddTimer(BaseCommandPtr cmd, int nTimeoutMS, QObject* receiver, const char* member)
{
    // Timers belong to the transport thread; other threads hand the work over.
    if (!InTransportThread()) {
        emit ScheduleAddTimer(cmd, nTimeoutMS, receiver, member);
        return;
    }
    if (nTimeoutMS <= 0 || !cmd)
        return;
    // A request handed over from another thread may have been answered or
    // withdrawn before this ran; a timer for it would cancel a finished request.
    if (!IsHeld(cmd.data()))
        return;
    quint32 sequence = 0;
    {
        std::lock_guard<RecursiveLock> sequenceLock(m_sequenceLock);
        sequence = cmd->GetSequence();
    }
    // Made outside the timer lock: adopting a child sends this object an event.
    auto* timer = new BaseCommandTimer(cmd, this);
    connect(timer, SIGNAL(CommandTimedOut(BaseCommandPtr)), this,
            SLOT(OnCommandTimedOut(BaseCommandPtr)));
    if (receiver && member)
        connect(timer, SIGNAL(CommandTimedOut(BaseCommandPtr)), receiver, member);
    timer->start(nTimeoutMS);
    std::lock_guard<std::mutex> timerLock(m_timerLock);
    if (BaseCommandTimer* stale = m_timers.value(sequence))
        DisposeTimer(stale);
    m_timers.insert(sequence, timer);
}

void ServiceIO::DelTimer(BaseCommandPtr cmd)
{
    if (!cmd)
        return;
    if (BaseCommandTimer* timer = TakeTimer(cmd->GetSequence()))
        DisposeTimer(timer);
}

BaseCommandTimer* ServiceIO::TakeTimer(quint32 sequence)
{
    std::lock_guard<std::mutex> timerLock(m_timerLock);
    return m_timers.take(sequence);
}

void ServiceIO::DisposeTimer(BaseCommandTimer* timer)
{
    // In the transport thread the timer may be the sender of the signal being
    // handled (the time-out path deletes it): stopping it is enough, and its
    // connections stay, so that the emission goes on to every receiver. From
    // another thread it may be firing right now: silence it instead. Either
    // way its own thread deletes it.
    if (InTransportThread())
        timer->stop();
    else
        timer->disconnect();
    timer->deleteLater();
}

void ServiceIO::DeleteAllTimers()
{
    QHash<quint32, BaseCommandTimer*> timers;
    {
        std::lock_guard<std::mutex> timerLock(m_timerLock);
        timers.swap(m_timers);
    }
    // Deleted outside the timer lock: losing a child sends this object an event.
    for (BaseCommandTimer* timer : std::as_const(timers)) {
        timer->stop();
        delete timer;
    }
}

void ServiceIO::OnCommandTimedOut(BaseCommandPtr cmd)
{
    Q_UNUSED(cmd);
}
