#pragma once

#include <QtGlobal>

#include <sys/types.h>

// Who is at the other end of a loopback TCP connection, from the kernel's
// socket table: the owner of the client's socket. Nothing the client sends
// has a say in it.
class PeerCredentials
{
public:
    // The owner of the socket 127.0.0.1:clientPort connected to
    // 127.0.0.1:serverPort; false when there is no such socket, or none that
    // still belongs to a process. A socket its process has closed (FIN_WAIT,
    // TIME_WAIT, inode 0) is answered for by the kernel as root's, so only an
    // established one is believed.
    static bool loopbackOwner(quint16 clientPort, quint16 serverPort, uid_t* uid);
};
