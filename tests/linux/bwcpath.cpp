// Moves a known amount of traffic along one path and exits, for the suite of
// traffic paths; and the peer that answers it.
//   bwcpath peer PORT                          TCP and UDP on PORT (IPv4 and IPv6)
//   bwcpath tcp HOST PORT UP DOWN [WAY]        one connection; WAY: send (default),
//                                              sendfile, splice, uring
//   bwcpath tcpmany HOST PORT COUNT UP DOWN    COUNT connections one after another
//   bwcpath udp HOST PORT UP DOWN SIZE [mmsg]  datagrams of SIZE; mmsg: sendmmsg/recvmmsg
//   bwcpath drip HOST PORT SECONDS             1 kB every 100 ms over one connection
//   bwcpath icmp HOST COUNT SIZE               echo requests with SIZE bytes of payload,
//                                              a millisecond apart
//   bwcpath raw HOST PROTOCOL COUNT SIZE       IP datagrams of an unassigned protocol
//   bwcpath loop BYTES                         a connection to itself on 127.0.0.1
//   bwcpath frames DEVICE COUNT SIZE           raw frames of SIZE bytes (link header
//                                              included) on a packet socket, each
//                                              waited for back from the frame peer
//                      [ring|ring2]          read through a receive ring (TPACKET_V3
//                                              or V2) rather than recv()
//   bwcpath framepeer DEVICE                   sends every such frame back
//   bwcpath sniff DEVICE ring|recv             captures every frame on DEVICE, as capture
//                                              tools do, until its input closes; then
//                                              prints the bytes it captured
// UP is what the program sends, DOWN what the peer sends it. Exits 0 when
// everything went and came, after BWCPATH_LINGER_MS milliseconds when that is set.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "packetring.h"
#ifdef BWC_HAVE_LIBURING
#include <liburing.h>
#endif

namespace {

char block[65536];

long long number(const char* text)
{
    return std::atoll(text);
}

void pause(long microseconds)
{
    timespec t{microseconds / 1000000, (microseconds % 1000000) * 1000};
    nanosleep(&t, nullptr);
}

bool resolve(const char* host, const char* port, int type, sockaddr_storage* out, socklen_t* length)
{
    addrinfo hints{};
    hints.ai_socktype = type;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0)
        return false;
    std::memcpy(out, found->ai_addr, found->ai_addrlen);
    *length = found->ai_addrlen;
    freeaddrinfo(found);
    return true;
}

int connectTo(const char* host, const char* port)
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!resolve(host, port, SOCK_STREAM, &address, &length))
        return -1;
    const int fd = socket(address.ss_family, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// Sends up bytes and reads until the other side ends, at once: neither side
// waits for the other with a full buffer. Gives the bytes read, -1 on failure.
long long exchange(int fd, long long up)
{
    long long read = 0;
    bool reading = true;
    bool writing = up > 0;
    if (!writing)
        shutdown(fd, SHUT_WR);
    while (reading || writing) {
        pollfd p{fd, short((reading ? POLLIN : 0) | (writing ? POLLOUT : 0)), 0};
        if (poll(&p, 1, 10000) <= 0)
            return -1;
        if (p.revents & POLLIN) {
            const ssize_t n = recv(fd, block, sizeof(block), 0);
            if (n < 0)
                return -1;
            reading = n > 0;
            read += n;
        }
        if (writing && (p.revents & POLLOUT)) {
            const ssize_t n =
                send(fd, block, size_t(std::min<long long>(up, sizeof(block))), MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN)
                return -1;
            up -= std::max<ssize_t>(n, 0);
            if (up == 0) {
                writing = false;
                shutdown(fd, SHUT_WR);
            }
        } else if ((p.revents & (POLLERR | POLLHUP)) && !(p.revents & POLLIN)) {
            return -1;
        }
    }
    return read;
}

bool header(int fd, long long down)
{
    const uint64_t wire = htobe64(uint64_t(down));
    return writeAll(fd, &wire, sizeof(wire));
}

bool readAll(int fd, void* data, size_t size)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

void serveTcp(int fd)
{
    uint64_t down = 0;
    if (!readAll(fd, &down, sizeof(down)))
        _exit(1);
    exchange(fd, (long long)be64toh(down));
    close(fd);
    _exit(0);
}

// Datagrams that ask for datagrams: 'R', then the count and size asked for.
struct UdpRequest
{
    char kind;
    uint32_t count;
    uint32_t size;
} __attribute__((packed));

void sendPaced(int fd, const sockaddr* to, socklen_t length, long long count, size_t size)
{
    for (long long i = 0; i < count; ++i) {
        sendto(fd, block, size, 0, to, length);
        // The veth's backlog holds 1000 packets; a burst longer drops.
        if (i % 64 == 63)
            pause(500);
    }
}

int peer(const char* port)
{
    signal(SIGCHLD, SIG_IGN);
    const int on = 1, off = 0;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(uint16_t(std::atoi(port)));
    const int tcp = socket(AF_INET6, SOCK_STREAM, 0);
    const int udp = socket(AF_INET6, SOCK_DGRAM, 0);
    for (int fd : {tcp, udp}) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off));
        const int buffer = 8 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            std::perror("bwcpath peer");
            return 1;
        }
    }
    listen(tcp, 64);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        pollfd p[2] = {{tcp, POLLIN, 0}, {udp, POLLIN, 0}};
        if (poll(p, 2, -1) <= 0)
            continue;
        if (p[0].revents & POLLIN) {
            const int fd = accept(tcp, nullptr, nullptr);
            if (fd >= 0 && fork() == 0)
                serveTcp(fd);
            close(fd);
        }
        if (p[1].revents & POLLIN) {
            sockaddr_storage from{};
            socklen_t length = sizeof(from);
            const ssize_t n =
                recvfrom(udp, block, sizeof(block), 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n == ssize_t(sizeof(UdpRequest)) && block[0] == 'R') {
                UdpRequest request;
                std::memcpy(&request, block, sizeof(request));
                sendPaced(udp, reinterpret_cast<sockaddr*>(&from), length, request.count,
                          std::min<size_t>(request.size, sizeof(block)));
            }
        }
    }
}

// Sends up bytes of a file through sendfile() or through a pipe with splice().
bool sendFromFile(int fd, long long up, bool useSplice)
{
    char name[] = "/tmp/bwcpathXXXXXX";
    const int file = mkstemp(name);
    unlink(name);
    for (long long left = up; left > 0; left -= sizeof(block))
        writeAll(file, block, size_t(std::min<long long>(left, sizeof(block))));
    off_t offset = 0;
    int pipes[2];
    if (useSplice && pipe(pipes) != 0)
        return false;
    while (up > 0) {
        const size_t chunk = size_t(std::min<long long>(up, sizeof(block)));
        ssize_t n;
        if (useSplice) {
            n = splice(file, &offset, pipes[1], nullptr, chunk, 0);
            for (ssize_t moved = 0; n > 0 && moved < n;) {
                const ssize_t m = splice(pipes[0], nullptr, fd, nullptr, size_t(n - moved), 0);
                if (m <= 0)
                    return false;
                moved += m;
            }
        } else {
            n = sendfile(fd, file, &offset, chunk);
        }
        if (n <= 0)
            return false;
        up -= n;
    }
    close(file);
    return true;
}

#ifdef BWC_HAVE_LIBURING
// Sends up bytes, then reads until the end, each through io_uring.
long long exchangeThroughRing(int fd, long long up)
{
    io_uring ring;
    if (io_uring_queue_init(8, &ring, 0) != 0)
        return -1;
    const auto complete = [&ring](bool sending, size_t size) -> long long {
        io_uring_sqe* entry = io_uring_get_sqe(&ring);
        if (sending)
            io_uring_prep_send(entry, 0, block, size, 0);
        else
            io_uring_prep_recv(entry, 0, block, size, 0);
        entry->flags |= IOSQE_FIXED_FILE;
        io_uring_submit(&ring);
        io_uring_cqe* done = nullptr;
        if (io_uring_wait_cqe(&ring, &done) != 0)
            return -1;
        const long long result = done->res;
        io_uring_cqe_seen(&ring, done);
        return result;
    };
    long long read = 0;
    if (io_uring_register_files(&ring, &fd, 1) == 0) {
        while (up > 0) {
            const long long n = complete(true, size_t(std::min<long long>(up, sizeof(block))));
            if (n <= 0)
                break;
            up -= n;
        }
        shutdown(fd, SHUT_WR);
        for (long long n; (n = complete(false, sizeof(block))) > 0;)
            read += n;
    }
    io_uring_queue_exit(&ring);
    return up == 0 ? read : -1;
}
#endif

int tcp(const char* host, const char* port, long long up, long long down, const std::string& way)
{
    const int fd = connectTo(host, port);
    if (fd < 0 || !header(fd, down))
        return 1;
    long long read = 0;
    if (way == "sendfile" || way == "splice") {
        if (!sendFromFile(fd, up, way == "splice"))
            return 1;
        read = exchange(fd, 0);
    } else if (way == "uring") {
#ifdef BWC_HAVE_LIBURING
        read = exchangeThroughRing(fd, up);
#else
        return 3;
#endif
    } else {
        read = exchange(fd, up);
    }
    close(fd);
    return read == down ? 0 : 1;
}

int tcpMany(const char* host, const char* port, long long count, long long up, long long down)
{
    for (long long i = 0; i < count; ++i) {
        if (tcp(host, port, up, down, "send") != 0)
            return 1;
    }
    return 0;
}

int udp(const char* host, const char* port, long long up, long long down, size_t size, bool mmsg)
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!resolve(host, port, SOCK_DGRAM, &address, &length))
        return 1;
    const int fd = socket(address.ss_family, SOCK_DGRAM, 0);
    const int buffer = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return 1;
    const long long sending = (up + (long long)size - 1) / (long long)size;
    if (mmsg) {
        iovec data{block, size};
        std::vector<mmsghdr> batch(32);
        for (mmsghdr& message : batch) {
            message = {};
            message.msg_hdr.msg_iov = &data;
            message.msg_hdr.msg_iovlen = 1;
        }
        for (long long left = sending; left > 0;) {
            const int n = sendmmsg(fd, batch.data(), unsigned(std::min<long long>(left, 32)), 0);
            if (n <= 0)
                return 1;
            left -= n;
            pause(300);
        }
    } else {
        sendPaced(fd, nullptr, 0, sending, size);
    }
    const long long expected = (down + (long long)size - 1) / (long long)size;
    if (expected > 0) {
        const UdpRequest request{'R', uint32_t(expected), uint32_t(size)};
        send(fd, &request, sizeof(request), 0);
    }
    long long received = 0;
    std::vector<mmsghdr> batch(32);
    std::vector<iovec> slots(32);
    std::vector<std::vector<char>> buffers(32, std::vector<char>(size));
    for (size_t i = 0; i < batch.size(); ++i) {
        slots[i] = {buffers[i].data(), size};
        batch[i] = {};
        batch[i].msg_hdr.msg_iov = &slots[i];
        batch[i].msg_hdr.msg_iovlen = 1;
    }
    while (received < expected) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            return 1; // lost on the way
        if (mmsg) {
            const int n = recvmmsg(fd, batch.data(), unsigned(batch.size()), MSG_DONTWAIT, nullptr);
            received += std::max(n, 0);
        } else if (recv(fd, block, sizeof(block), 0) > 0) {
            ++received;
        }
    }
    return 0;
}

int drip(const char* host, const char* port, long long seconds)
{
    const int fd = connectTo(host, port);
    if (fd < 0 || !header(fd, 0))
        return 1;
    for (long long i = 0; i < seconds * 10; ++i) {
        if (!writeAll(fd, block, 1000))
            return 1;
        pause(100000);
    }
    shutdown(fd, SHUT_WR);
    return exchange(fd, 0) == 0 ? 0 : 1;
}

uint16_t checksum(const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += uint32_t(p[i] << 8 | p[i + 1]);
    if (size % 2)
        sum += uint32_t(p[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return htons(uint16_t(~sum));
}

int echo(const char* host, long long count, size_t size)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (inet_pton(AF_INET, host, &to.sin_addr) != 1)
        return 1;
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0)
        return 1;
    std::vector<uint8_t> packet(sizeof(icmphdr) + size);
    for (long long i = 0; i < count; ++i) {
        std::fill(packet.begin(), packet.end(), uint8_t(i));
        auto* request = reinterpret_cast<icmphdr*>(packet.data());
        request->type = ICMP_ECHO;
        request->code = 0;
        request->un.echo.id = htons(uint16_t(getpid()));
        request->un.echo.sequence = htons(uint16_t(i));
        request->checksum = 0;
        request->checksum = checksum(packet.data(), packet.size());
        if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof(to)) < 0)
            return 1;
        // Its reply (the raw socket sees every ICMP packet that comes).
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return 1;
            const ssize_t n = recv(fd, block, sizeof(block), 0);
            const auto* reply = reinterpret_cast<const icmphdr*>(block + (block[0] & 0x0F) * 4);
            if (n > 0 && reply->type == ICMP_ECHOREPLY &&
                reply->un.echo.sequence == htons(uint16_t(i)))
                break;
        }
        pause(1000);
    }
    return 0;
}

int raw(const char* host, int protocol, long long count, size_t size)
{
    sockaddr_storage to{};
    socklen_t length = 0;
    if (!resolve(host, nullptr, SOCK_RAW, &to, &length))
        return 1;
    const int fd = socket(to.ss_family, SOCK_RAW, protocol);
    if (fd < 0)
        return 1;
    for (long long i = 0; i < count; ++i) {
        if (sendto(fd, block, size, 0, reinterpret_cast<sockaddr*>(&to), length) < 0)
            return 1;
        if (i % 64 == 63)
            pause(500);
    }
    return 0;
}

int loop(long long bytes)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    long long got = -1;
    std::thread server([&] {
        const int fd = accept(listener, nullptr, nullptr);
        got = exchange(fd, 0);
        close(fd);
    });
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return 1;
    const long long back = exchange(fd, bytes);
    close(fd);
    server.join();
    return got == bytes && back == 0 ? 0 : 1;
}

// An ethertype for local experiments: nobody else's frames.
constexpr uint16_t FrameType = 0x88B5;

int packetSocket(const char* device, sockaddr_ll* address, uint16_t protocol = FrameType)
{
    const int fd = socket(AF_PACKET, SOCK_RAW, htons(protocol));
    *address = {};
    address->sll_family = AF_PACKET;
    address->sll_protocol = htons(protocol);
    address->sll_ifindex = int(if_nametoindex(device));
    if (fd < 0 || address->sll_ifindex == 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(address), sizeof(*address)) != 0) {
        std::perror("bwcpath packet socket");
        return -1;
    }
    return fd;
}

int framePeer(const char* device)
{
    sockaddr_ll address;
    const int fd = packetSocket(device, &address);
    if (fd < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        const ssize_t n = recv(fd, block, sizeof(block), 0);
        if (n < ssize_t(sizeof(ether_header)))
            continue;
        // Back to where it came from.
        std::memcpy(block, block + ETH_ALEN, ETH_ALEN);
        send(fd, block, size_t(n), 0);
    }
}

int frames(const char* device, long long count, size_t size, const std::string& way)
{
    sockaddr_ll address;
    const int fd = packetSocket(device, &address);
    if (fd < 0 || size < sizeof(ether_header) + 8 || size > sizeof(block))
        return 1;
    PacketRing ring;
    if (!way.empty() && !ring.map(fd, way == "ring2" ? PacketRing::V2 : PacketRing::V3)) {
        std::perror("bwcpath receive ring");
        return 1;
    }
    std::vector<uint8_t> frame(size, 0x5A);
    auto* header = reinterpret_cast<ether_header*>(frame.data());
    std::memset(header->ether_dhost, 0xFF, ETH_ALEN);
    header->ether_type = htons(FrameType);
    for (long long i = 0; i < count; ++i) {
        std::memcpy(frame.data() + sizeof(ether_header), &i, sizeof(i));
        if (send(fd, frame.data(), frame.size(), 0) != ssize_t(frame.size()))
            return 1;
        const auto isEcho = [&](const uint8_t* data, size_t length) {
            return length == size && std::memcmp(data + sizeof(ether_header), &i, sizeof(i)) == 0;
        };
        if (!way.empty()) {
            if (!ring.next(2000, isEcho))
                return 1;
            continue;
        }
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return 1;
            const ssize_t n = recv(fd, block, sizeof(block), 0);
            if (n > 0 && isEcho(reinterpret_cast<const uint8_t*>(block), size_t(n)))
                break;
        }
    }
    return 0;
}

bool inputOpen()
{
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return poll(&p, 1, 0) == 0 || read(STDIN_FILENO, block, sizeof(block)) > 0;
}

int sniff(const char* device, const std::string& way)
{
    sockaddr_ll address;
    const int fd = packetSocket(device, &address, ETH_P_ALL);
    PacketRing ring;
    if (fd < 0 || (way == "ring" && !ring.map(fd, PacketRing::V3)))
        return 1;
    const int buffer = 1 << 22;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    std::printf("ready\n");
    std::fflush(stdout);
    long long captured = 0;
    while (inputOpen()) {
        if (way == "ring") {
            ring.next(50, [&](const uint8_t*, size_t length) {
                captured += (long long)length;
                return true;
            });
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) > 0)
            captured += std::max<ssize_t>(recv(fd, block, sizeof(block), MSG_TRUNC), 0);
    }
    std::printf("captured %lld\n", captured);
    return 0;
}

} // namespace

int run(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "peer" && argc == 3)
        return peer(argv[2]);
    if (mode == "tcp" && (argc == 6 || argc == 7))
        return tcp(argv[2], argv[3], number(argv[4]), number(argv[5]), argc == 7 ? argv[6] : "");
    if (mode == "tcpmany" && argc == 7)
        return tcpMany(argv[2], argv[3], number(argv[4]), number(argv[5]), number(argv[6]));
    if (mode == "udp" && (argc == 7 || argc == 8))
        return udp(argv[2], argv[3], number(argv[4]), number(argv[5]), size_t(number(argv[6])),
                   argc == 8 && std::string(argv[7]) == "mmsg");
    if (mode == "drip" && argc == 5)
        return drip(argv[2], argv[3], number(argv[4]));
    if (mode == "icmp" && argc == 5)
        return echo(argv[2], number(argv[3]), size_t(number(argv[4])));
    if (mode == "raw" && argc == 6)
        return raw(argv[2], int(number(argv[3])), number(argv[4]), size_t(number(argv[5])));
    if (mode == "frames" && (argc == 5 || argc == 6))
        return frames(argv[2], number(argv[3]), size_t(number(argv[4])), argc == 6 ? argv[5] : "");
    if (mode == "sniff" && argc == 4)
        return sniff(argv[2], argv[3]);
    if (mode == "framepeer" && argc == 3)
        return framePeer(argv[2]);
    if (mode == "loop" && argc == 3)
        return loop(number(argv[2]));
    std::fprintf(stderr, "usage: see the top of bwcpath.cpp\n");
    return 2;
}

int main(int argc, char** argv)
{
    const int code = run(argc, argv);
    if (const char* linger = std::getenv("BWCPATH_LINGER_MS"))
        pause(std::atol(linger) * 1000L);
    return code;
}
