#pragma once

// A blocking client of the service for tests and benchmarks, one frame at a time.

#include "basecommand.h"

#include <QTcpSocket>

class ServiceClient
{
public:
    // Connects to 127.0.0.1:port and completes the handshake.
    bool connectTo(quint16 port, int timeoutMs = 5000);
    // Writes the request with the next sequence number and gives that number.
    quint32 send(const BaseCommandPtr& request);
    // Reads until that sequence's reply (null on a time-out), keeping the broadcasts met.
    BaseCommandPtr waitReply(quint32 sequence, int timeoutMs = 5000);
    // send() and waitReply() in one; null unless the reply is a T.
    template <class T> T* ask(T* request, int timeoutMs = 5000)
    {
        const BaseCommandPtr command(request);
        m_keep.append(waitReply(send(command), timeoutMs));
        return command_cast<T>(m_keep.last());
    }
    // The next frame, whatever it is (null on a time-out).
    BaseCommandPtr readFrame(int timeoutMs);
    QList<BaseCommandPtr> broadcasts;

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
    quint32 m_sequence = 0;
    QList<BaseCommandPtr> m_keep;
};
