#include "peerguard.h"

#include <QTcpSocket>

PeerGuard::PeerGuard(QTcpSocket* socket) : QObject(socket)
{
    m_frame.setSingleShot(true);
    m_handshake.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, [this] { emit expired(this->socket(), "frame"); });
    connect(&m_handshake, &QTimer::timeout, this,
            [this] { emit expired(this->socket(), "handshake"); });
}

PeerGuard* PeerGuard::of(QTcpSocket* socket)
{
    if (!socket)
        return nullptr;
    if (auto* guard = socket->findChild<PeerGuard*>(QString(), Qt::FindDirectChildrenOnly))
        return guard;
    return new PeerGuard(socket);
}

QTcpSocket* PeerGuard::socket() const
{
    return static_cast<QTcpSocket*>(parent());
}

void PeerGuard::setPaused(bool paused)
{
    m_paused = paused;
    // Bytes we leave unread are not the peer's delay.
    if (paused)
        m_frame.stop();
}

void PeerGuard::watchFrame(bool partialFrameLeft, bool consumedAny, int deadlineMS)
{
    if (!partialFrameLeft)
        m_frame.stop();
    else if (consumedAny || !m_frame.isActive())
        m_frame.start(deadlineMS);
}

void PeerGuard::startHandshakeDeadline(int deadlineMS)
{
    m_handshake.start(deadlineMS);
}

void PeerGuard::handshakeDone()
{
    m_handshake.stop();
}

void PeerGuard::reset()
{
    m_paused = false;
    m_frame.stop();
    m_handshake.stop();
}
