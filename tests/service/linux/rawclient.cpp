#include "rawclient.h"

#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace RawClient {

namespace {

bool readExactly(int fd, char* data, size_t size)
{
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

// Reads one whole frame and forgets it.
bool skipFrame(int fd)
{
    char prefix[4];
    if (!readExactly(fd, prefix, sizeof prefix))
        return false;
    quint32 left = qFromBigEndian<quint32>(prefix);
    if (left < 4 || left > 100000)
        return false;
    left -= 4;
    char chunk[4096];
    while (left > 0) {
        const size_t size = left < sizeof chunk ? left : sizeof chunk;
        if (!readExactly(fd, chunk, size))
            return false;
        left -= quint32(size);
    }
    return true;
}

} // namespace

pid_t startAs(uid_t uid, gid_t gid, const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(125);
        ::_exit(body());
    }
    return child;
}

bool ended(pid_t child, int* code, bool wait)
{
    int status = 0;
    pid_t result = 0;
    do {
        result = ::waitpid(child, &status, wait ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return false;
    *code = result == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

int runAs(uid_t uid, gid_t gid, const std::function<int()>& body)
{
    const pid_t child = startAs(uid, gid, body);
    int code = -1;
    return child > 0 && ended(child, &code, true) ? code : -1;
}

int open(quint16 port, const QByteArray& handshake)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !skipFrame(fd) || !writeAll(fd, handshake) || !skipFrame(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::send(fd, data, left, MSG_NOSIGNAL);
        if (written <= 0)
            return false;
        data += written;
        left -= size_t(written);
    }
    return true;
}

qsizetype writeSome(int fd, const QByteArray& bytes, qsizetype offset)
{
    const ssize_t written = ::send(fd, bytes.constData() + offset, size_t(bytes.size() - offset),
                                   MSG_DONTWAIT | MSG_NOSIGNAL);
    return written > 0 ? written : 0;
}

bool passDescriptor(int channel, int fd)
{
    char byte = 'x';
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    return ::sendmsg(channel, &message, 0) == 1;
}

int takeDescriptor(int channel)
{
    char byte = 0;
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(channel, &message, 0) != 1)
        return -1;
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (!header || header->cmsg_type != SCM_RIGHTS)
        return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return fd;
}

} // namespace RawClient
