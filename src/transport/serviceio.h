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

    // Commands in either queue: received and not yet claimed, or waiting to be written.
    int QueuedCount();

    // The owner's label for log messages; the text must outlive the transport.
    void SetName(const char* name);
    const char* Name() const { return m_name.load(std::memory_order_acquire); }

    // A peer that sends faster than it is served is slowed down, not refused:
    // its socket is left unread while it has this many commands in flight
    // (received and not yet claimed by the owner, or answered and not yet
    // written to it), or while this many bytes written to it wait in our
    // buffer. Reading resumes as it catches up.
    static constexpr int MaxUnclaimedPerPeer = 64;
    static constexpr qint64 PauseWriteBytes = 256 * 1024;
    // A peer that stops reading altogether while broadcasts keep coming is cut off here.
    static constexpr qint64 MaxPendingWriteBytes = 16 * 1024 * 1024;
    // Read buffer of a socket: more than a frame, so that a whole frame always fits.
    static constexpr qint64 ReadBufferBytes = 1024 * 1024;
    // A frame that has begun to arrive must be complete within this time.
    static constexpr int FrameDeadlineMS = 5000;

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
    // Reads every peer whose reading was paused and may go on now.
    void ResumeReading();
    void OnBytesWritten();
    // A peer missed a deadline (see PeerGuard): its connection is closed.
    virtual void OnPeerExpired(QTcpSocket* socket, const char* why);

protected:
    virtual QUuid GetOwnerID(QTcpSocket* socket) = 0;
    virtual void AssignSequence(BaseCommandPtr cmd);
    virtual bool IsHandshakeComplete(QTcpSocket* socket) = 0;
    virtual void OnProtocolCommand(QTcpSocket* socket, BaseCommandPtr cmd) = 0;
    // Gate before a received command is queued; true here.
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
    // BCS_WRITE_FAILED when the socket is not connected or the owner has let go
    // of the transport. A peer that stops reading is cut off once
    // MaxPendingWriteBytes are waiting for it.
    int WriteToSocket(QTcpSocket* socket, const BaseCommand* cmd);
    // Makes a new connection's socket ready for reading: buffer, guard, wiring.
    void WatchSocket(QTcpSocket* socket);
    // Reads every whole frame the socket holds, unless its peer must wait;
    // transport thread only.
    void ReadFrom(QTcpSocket* socket);
    // Whether a peer may be read now (see MaxUnclaimedPerPeer).
    bool MayRead(QTcpSocket* socket);
    // Whether a peer whose handshake is complete has room for more commands in flight.
    virtual bool MayTakeMore(QTcpSocket* socket);
    // Commands the service sent that wait for the owner here.
    int InFlight();
    // count commands joined (count > 0) or left a queue; called with that
    // queue's lock held. A received command replaced by a repeat of it
    // leaves without a call.
    virtual void OnQueueChanged(const BaseCommand& cmd, bool bSend, int count);
    // Something changed that may let a paused peer be read again; any thread.
    void RequestResume();
    // The sockets this transport reads.
    virtual QList<QTcpSocket*> Peers() { return {}; }
    // Reads a socket whose reading was paused.
    virtual void ResumePeer(QTcpSocket* socket);
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
    // Set when the owner lets go: from then on nothing is written.
    std::atomic<bool> m_closing{false};
    // Whether some peer's reading is paused, and whether a resume is already posted.
    std::atomic<bool> m_anyPaused{false};
    std::atomic<bool> m_resumePending{false};

private:
    void HandleReceived(QTcpSocket* socket, const BaseCommandPtr& cmd);
    bool SkipUnknownFrame(QTcpSocket* socket);
    // After a read that left part of a frame: makes sure the rest is taken in.
    void RearmReading(QTcpSocket* socket);
    bool IsHeld(const BaseCommand* cmd);
    BaseCommandTimer* TakeTimer(quint32 sequence);
    void DisposeTimer(BaseCommandTimer* timer);
};
