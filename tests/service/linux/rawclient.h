#pragma once

// A client of the service for a forked child that has changed its user: only
// system calls on frames encoded before the fork, so that nothing in it needs
// a lock another thread of the parent may have held at the fork.

#include <QByteArray>

#include <functional>

#include <sys/types.h>

namespace RawClient {

// Starts body in a child process with the user's and group's ids and no
// other groups; gives the child's id (-1: no child).
pid_t startAs(uid_t uid, gid_t gid, const std::function<int()>& body);
// Whether the child has ended (waits for it when wait is true); *code is its
// exit code, or -1 when it did not exit normally.
bool ended(pid_t child, int* code, bool wait);
// Both: gives the exit code.
int runAs(uid_t uid, gid_t gid, const std::function<int()>& body);
// A connection to 127.0.0.1:port that has completed the handshake with the
// frame given; -1 on failure.
int open(quint16 port, const QByteArray& handshake);
bool writeAll(int fd, const QByteArray& bytes);
// Writes what the connection takes now of bytes from offset on; gives how much.
qsizetype writeSome(int fd, const QByteArray& bytes, qsizetype offset);
// Passes a descriptor over a Unix socket, and takes one.
bool passDescriptor(int channel, int fd);
int takeDescriptor(int channel);

} // namespace RawClient
