#pragma once

#include <QHash>
#include <QUuid>

#include <mutex>

// The server's commands in flight, per session and per user: received and not
// yet claimed by the owner, or answered and not yet written. They are counted
// as they join and leave the queues, so that deciding whether to read a peer
// never walks a queue. Any thread; its lock is taken last of all.
class InFlightLedger
{
public:
    static constexpr qint64 NoUser = -1;

    // A session begins; its user is not counted when it is NoUser.
    void open(const QUuid& session, qint64 user);
    // A session ends, and with it all it had in flight.
    void close(const QUuid& session);
    // Commands of a session joined (delta > 0) or left the queues; nothing
    // is counted for a session that is not open.
    void add(const QUuid& session, int delta);
    int ofSession(const QUuid& session) const;
    // Of all the sessions of the session's user; 0 for NoUser.
    int ofUser(const QUuid& session) const;

private:
    struct Session
    {
        int count = 0;
        qint64 user = NoUser;
    };

    mutable std::mutex m_lock;
    QHash<QUuid, Session> m_sessions;
    QHash<qint64, int> m_users;
};
