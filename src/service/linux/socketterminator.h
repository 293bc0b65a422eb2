#pragma once

#include <QSet>

// Ends the live TCP and UDP sockets of blocked applications, found through
// inet_diag with each socket's tag read from the socket-tag map, and
// destroyed through the same interface: their programs see the connection
// reset at once instead of a transfer that hangs. Works in the network
// namespace the calling thread is in.
class SocketTerminator
{
public:
    // Gives how many sockets were ended, or a negative errno.
    static int terminate(int tagMapFd, const QSet<quint32>& apps);
};
