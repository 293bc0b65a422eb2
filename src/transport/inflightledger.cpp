#include "inflightledger.h"

void InFlightLedger::open(const QUuid& session, qint64 user)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_sessions.insert(session, Session{0, user});
}

void InFlightLedger::close(const QUuid& session)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_sessions.constFind(session);
    if (it == m_sessions.constEnd())
        return;
    if (it->user != NoUser) {
        const auto user = m_users.find(it->user);
        if (user != m_users.end() && (*user -= it->count) <= 0)
            m_users.erase(user);
    }
    m_sessions.erase(it);
}

void InFlightLedger::add(const QUuid& session, int delta)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_sessions.find(session);
    if (it == m_sessions.end())
        return;
    // Never below zero: a reply to a request made before its session was
    // taken up again under the same uuid may leave the queues afterwards.
    delta = qMax(delta, -it->count);
    it->count += delta;
    if (it->user != NoUser && delta != 0) {
        int& user = m_users[it->user];
        user = qMax(0, user + delta);
    }
}

int InFlightLedger::ofSession(const QUuid& session) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_sessions.value(session).count;
}

int InFlightLedger::ofUser(const QUuid& session) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_sessions.constFind(session);
    return it == m_sessions.constEnd() || it->user == NoUser ? 0 : m_users.value(it->user);
}
