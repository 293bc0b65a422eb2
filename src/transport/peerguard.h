#pragma once

#include <QObject>
#include <QTimer>

class QTcpSocket;

// What the transport keeps about one connection besides its socket: whether
// reading it is paused to slow the peer down, and the deadlines a peer must
// meet (finish the handshake, finish a frame it has started). It is a child of
// the socket, so it goes when the socket goes; transport thread only.
class PeerGuard : public QObject
{
    Q_OBJECT
public:
    explicit PeerGuard(QTcpSocket* socket);

    // The guard of a socket, made on first use.
    static PeerGuard* of(QTcpSocket* socket);

    QTcpSocket* socket() const;

    bool isPaused() const { return m_paused; }
    void setPaused(bool paused);

    // After a read: a partial frame left in the socket must be completed
    // within the deadline, counted from when it was first seen (or from when
    // the frame before it was consumed).
    void watchFrame(bool partialFrameLeft, bool consumedAny, int deadlineMS);
    // Arms the handshake deadline; handshakeDone() disarms it.
    void startHandshakeDeadline(int deadlineMS);
    void handshakeDone();
    // Back to the state of a new connection.
    void reset();

signals:
    // The peer missed a deadline; why is "handshake" or "frame".
    void expired(QTcpSocket* socket, const char* why);

private:
    bool m_paused = false;
    QTimer m_frame;
    QTimer m_handshake;
};
