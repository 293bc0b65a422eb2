#pragma once

#include <QHash>
#include <QList>
#include <QUuid>

class QTcpSocket;

// The server's authenticated clients, looked up both ways: a socket's session
// uuid and a uuid's socket. Every change keeps the two directions consistent.
class ClientMap
{
public:
    bool contains(QTcpSocket* socket) const { return m_bySocket.contains(socket); }
    bool hasUuid(const QUuid& uuid) const { return m_byUuid.contains(uuid); }
    QUuid uuid(QTcpSocket* socket) const { return m_bySocket.value(socket); }
    QTcpSocket* socket(const QUuid& uuid) const { return m_byUuid.value(uuid); }
    QList<QTcpSocket*> sockets() const { return m_bySocket.keys(); }
    int count() const { return int(m_bySocket.size()); }

    void insert(QTcpSocket* socket, const QUuid& uuid)
    {
        remove(socket);
        if (QTcpSocket* previous = m_byUuid.value(uuid))
            m_bySocket.remove(previous);
        m_bySocket.insert(socket, uuid);
        m_byUuid.insert(uuid, socket);
    }
    void remove(QTcpSocket* socket)
    {
        const auto it = m_bySocket.constFind(socket);
        if (it == m_bySocket.constEnd())
            return;
        m_byUuid.remove(it.value());
        m_bySocket.erase(it);
    }
    void clear()
    {
        m_bySocket.clear();
        m_byUuid.clear();
    }

private:
    QHash<QTcpSocket*, QUuid> m_bySocket;
    QHash<QUuid, QTcpSocket*> m_byUuid;
};
