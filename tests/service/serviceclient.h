#pragma once

// A blocking client of the service for tests and benchmarks: a plain socket,
// the session handshake, and one request at a time, so that a test sees the
// exact replies and broadcasts in the order they arrive.

#include "basecommand.h"

#include <QList>
#include <QTcpSocket>

class ServiceClient
{
public:
    // Connects to 127.0.0.1:port and completes the handshake.
    bool connectTo(quint16 port, int timeoutMs = 5000);
    // Writes the request with the next sequence number (no wait).
    quint32 send(const BaseCommandPtr& request);
    // Waits for the reply of that sequence; broadcasts met on the way are kept.
    BaseCommandPtr waitReply(quint32 sequence, int timeoutMs = 5000);
    // send() and waitReply() in one; the reply is cast to T (null on a mismatch).
    template <class T> T* ask(T* request, int timeoutMs = 5000)
    {
        const BaseCommandPtr command(request);
        m_keep.append(waitReply(send(command), timeoutMs));
        return command_cast<T>(m_keep.last());
    }
    // Waits until at least count broadcasts have arrived.
    bool waitBroadcasts(int count, int timeoutMs = 5000);

    QTcpSocket& socket() { return m_socket; }
    QList<BaseCommandPtr> broadcasts;
    QList<qint64> replyFrameSizes;

private:
    BaseCommandPtr readFrame(int timeoutMs, qint64* size = nullptr);

    QTcpSocket m_socket;
    QByteArray m_buffer;
    quint32 m_sequence = 0;
    QList<BaseCommandPtr> m_keep;
};
