#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

// What crossed the wire at the far end of a measured program's traffic, as
// the peer's own kernel counted it, read at the moment it is asked: the TCP
// stack's counters of every TCP socket the peer process holds (payload plus
// a header per segment), or for UDP the IP layer's octets of the peer's
// network namespace. Sockets are held from the first read on, so that their
// final counts stay readable after the peer has closed them.
class PeerCounter
{
public:
    enum Direction
    {
        PeerReceives,
        PeerSends,
    };
    // The TCP sockets of a process.
    PeerCounter(qint64 pid, Direction direction);
    // The IP layer of a whole network namespace (its file under /run/netns):
    // only where the lab carries nothing else.
    PeerCounter(const QString& netns, Direction direction);
    ~PeerCounter();
    PeerCounter(const PeerCounter&) = delete;
    PeerCounter& operator=(const PeerCounter&) = delete;

    // Only the TCP payload from then on, no headers.
    void countPayloadOnly() { m_payloadOnly = true; }
    // IP-layer bytes since the sockets were made, or since the namespace's
    // counter was made, headers included; false when the peer cannot be read.
    bool read(quint64* bytes);

private:
    bool readSockets(quint64* bytes);
    bool readIpLayer(quint64* bytes) const;
    void adoptNewSockets();

    qint64 m_pid = 0;
    QString m_netns;
    quint64 m_baseline = 0;
    Direction m_direction;
    bool m_payloadOnly = false;
    int m_pidfd = -1;
    QHash<quint64, int> m_sockets; // socket inode -> our duplicate of it
};
