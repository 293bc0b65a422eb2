#pragma once

#include "basecommand.h"

#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QObject>
#include <QUuid>

#include <atomic>
#include <condition_variable>
#include <mutex>

class BaseCommandTimer;
class QTcpSocket;
class QThread;

// The command transport between the module and the service: a send queue, a
// receive queue (on the client also the written requests awaiting their reply),
// sequence numbers, per-request time-outs and blocking waits. The object lives
// in a thread of its own (see ThreadWrapper); its owner calls it from another.
//
// Locks, always taken in this order when more than one is held:
//   (client: socket lock; server: fresh lock, clients lock,) send lock,
//   wait lock, receive lock, then the sequence lock or the timer lock.
// They are standard-library locks so that thread checkers can follow them.
class ServiceIO : public QObject
{
    Q_OBJECT
public:
    explicit ServiceIO(QObject* parent = nullptr);
    ~ServiceIO() override;

    // How an owner gives the transport up; the object must not be used afterwards.
    virtual void Release() = 0;
    virtual bool IsServer() const = 0;
    // Queues a command for sending. Gives 0, or BCS_NULL_COMMAND when it could not be queued.
    virtual int SendCommand(BaseCommandPtr cmd, int nTimeoutMS, QObject* receiver = nullptr,
                            const char* member = nullptr);
    // Takes the oldest command off the receive queue.
    virtual int GetNextCommand(BaseCommandPtr* pCmd);
    // Settles a command the owner was handed: takes it off the receive queue.
    virtual int RetrieveCommand(BaseCommandPtr* pCmd);
    // Withdraws a command this side still holds.
    virtual int CancelCommand(BaseCommandPtr cmd);
    // Blocks the calling thread (never the transport's) until the reply to *pCmd arrives.
    virtual int WaitForCommand(BaseCommandPtr* pCmd, int nTimeoutMS);

    // For owners checked by a thread sanitizer: call first thing in event(),
    // before the event is looked at. Commands are delivered (NewCommandReceived and the like)
    // while the transport holds its queue locks, so taking one here makes the
    // ordering that Qt's event queue provides visible to the checker, which
    // cannot see inside Qt. It has no other effect.
    void SynchronizeDelivery();

    // The owner's label for log messages; the text must outlive the transport.
    void SetName(const char* name);
    const char* Name() const { return m_name.load(std::memory_order_acquire); }

    // Commands a peer may leave unclaimed in the receive queue before more are refused.
    static constexpr int MaxUnclaimedPerPeer = 1024;
    // Bytes a peer may leave unread in our write buffer before it is cut off.
    static constexpr qint64 MaxPendingWriteBytes = 8 * 1024 * 1024;
    // Read buffer of a socket: more than a frame, so that a whole frame always fits.
    static constexpr qint64 ReadBufferBytes = 1024 * 1024;

signals:
    void NewCommandReceived(BaseCommandPtr cmd);
    void NewBroadcastReceived(BaseCommandPtr cmd);
    void NewCommandQueuedToSend();
    void CommandTimedOut(BaseCommandPtr cmd);
    void ScheduleAddTimer(BaseCommandPtr cmd, int nTimeoutMS, QObject* receiver,
                          const char* member);
    void disconnected();
    void connected();

protected slots:
    virtual void OnNewData();
    virtual void OnQueuedToSend() = 0;
    void AddTimer(BaseCommandPtr cmd, int nTimeoutMS, QObject* receiver = nullptr,
                  const char* member = nullptr);
    void DelTimer(BaseCommandPtr cmd);
    virtual void OnCommandTimedOut(BaseCommandPtr cmd);

protected:
    virtual QUuid GetOwnerID(QTcpSocket* socket) = 0;
    virtual void AssignSequence(BaseCommandPtr cmd);
    virtual bool IsHandshakeComplete(QTcpSocket* socket) = 0;
    virtual void OnProtocolCommand(QTcpSocket* socket, BaseCommandPtr cmd) = 0;
    // Gate before a received command is queued. Refuses a command from a peer that
    // already has MaxUnclaimedPerPeer commands waiting, unless it replaces one.
    virtual bool OnQueueRecvCommand(QTcpSocket* socket, BaseCommandPtr cmd);
    virtual void OnDisconnect() = 0;

    bool EnqueueCommand(BaseCommandPtr cmd, int nTimeoutMS, bool bSend, QTcpSocket* socket,
                        QObject* receiver, const char* member);
    bool QueueCommand(BaseCommandPtr cmd, int nTimeoutMS, bool bSend, QTcpSocket* socket,
                      QObject* receiver, const char* member);
    bool DequeueCommand(BaseCommandPtr* out, bool bSend);
    BaseCommandPtr FindCommand(BaseCommandPtr cmd, bool bSend);
    bool TakeCommand(BaseCommandPtr* pCmd, bool bSend, bool bEvenIfSent);
    void RejectCommand(QTcpSocket* socket, BaseCommandPtr cmd, int nStatus, const char* reason);

    bool event(QEvent* event) override;

    // WaitForCommand for a caller that already holds the wait lock.
    int WaitForCommandLocked(BaseCommandPtr* pCmd, int nTimeoutMS,
                             std::unique_lock<std::mutex>& waitLock);
    bool InTransportThread() const;
    // Writes one command under the send lock; gives WriteCommand's result, or
    // BCS_WRITE_FAILED when the socket is not connected. A peer that stops
    // reading is cut off once MaxPendingWriteBytes are waiting for it.
    int WriteToSocket(QTcpSocket* socket, const BaseCommand* cmd);
    // Whether the receive queue may take a command from this peer: it replaces a
    // queued one, or the peer has fewer than MaxUnclaimedPerPeer unclaimed commands.
    bool HasRoomFor(const QUuid& owner, const BaseCommand* incoming);
    // Stops and deletes every request timer; transport thread only.
    void DeleteAllTimers();

    using RecursiveLock = std::recursive_mutex;

    QList<BaseCommandPtr> m_sendQueue;
    QList<BaseCommandPtr> m_recvQueue;
    RecursiveLock m_sendLock;
    RecursiveLock m_recvLock;
    quint32 m_lastSequence = 0;
    RecursiveLock m_sequenceLock;
    QThread* m_thread = nullptr;
    QMultiHash<quint32, std::condition_variable*> m_waiters;
    QHash<quint32, BaseCommandPtr> m_replies;
    std::mutex m_waitLock;
    std::atomic<const char*> m_name{"unknown"};
    QHash<quint32, BaseCommandTimer*> m_timers;
    std::mutex m_timerLock;

private:
    void HandleReceived(QTcpSocket* socket, const BaseCommandPtr& cmd);
    bool SkipUnknownFrame(QTcpSocket* socket);
    bool IsHeld(const BaseCommand* cmd);
    BaseCommandTimer* TakeTimer(quint32 sequence);
    void DisposeTimer(BaseCommandTimer* timer);
};
