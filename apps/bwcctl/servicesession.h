#pragma once

#include "basecommand.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QWaitCondition>

class ServiceIO;

// One conversation with the service through the project's own transport
// client: requests with a blocking wait for their replies, and the
// broadcasts that arrive meanwhile kept for the caller. Replies are
// collected as the transport reads them, so a reply that comes before
// anyone waits for it is not missed.
class ServiceSession
{
public:
    ServiceSession(quint16 port, int timeoutMs);
    ~ServiceSession();
    ServiceSession(const ServiceSession&) = delete;
    ServiceSession& operator=(const ServiceSession&) = delete;

    // Queues a request; wait() collects its reply. Requests go out in order.
    bool send(const BaseCommandPtr& request);
    // The reply to a sent request, or null with a reason (*timedOut tells
    // the cases apart). A request that times out returns once the transport
    // has asked the service to cancel it, so that the cancel goes out before
    // the session is closed.
    BaseCommandPtr wait(const BaseCommandPtr& request, QString* error, bool* timedOut = nullptr);
    // The reply to a sent request if it is in already, else null.
    BaseCommandPtr takeIfAnswered(const BaseCommandPtr& request);
    // send() and wait() in one.
    BaseCommandPtr ask(const BaseCommandPtr& request, QString* error, bool* timedOut = nullptr);

    // Broadcasts received so far, oldest first; taking them empties the list.
    QList<BaseCommandPtr> takeBroadcasts();

private:
    static constexpr int TimeoutGraceMs = 5000;

    ServiceIO* m_client = nullptr;
    quint16 m_port;
    int m_timeoutMs;
    QMutex m_lock;
    QWaitCondition m_arrived;
    QHash<quint32, BaseCommandPtr> m_replies; // by sequence
    QSet<quint32> m_timedOut;                 // requests the transport has given up on
    QList<BaseCommandPtr> m_broadcasts;
};
