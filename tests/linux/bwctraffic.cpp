// A small network program for the Linux backend's tests, in the roles iperf3
// does not play:
//   bwctraffic sink PORT [RATE]               accepts connections, reads until each ends,
//                                             at most RATE bytes a second when given;
//                                             "received BYTES wire IPBYTES" for each
//   bwctraffic send HOST PORT BYTES [--wait] [--wire]
//                                             connects (then, with --wait, waits
//                                             for a line on stdin) and sends BYTES
//   bwctraffic forkexec HOST PORT BYTES       connects, then a child runs dd with the
//                                             socket as its output and sends BYTES
//                                             ("forkexec", and "send" with --wire, end
//                                             the connection and say "sent BYTES wire
//                                             IPBYTES retransmitted SEGMENTS")
//   bwctraffic background HOST PORT BYTES     connects, then goes to the background: the
//                                             parent ends, a child sends BYTES
//   bwctraffic source PORT BYTES              accepts connections, sends BYTES on each,
//                                             then as "forkexec" when the peer has closed
//   bwctraffic execrecv HOST PORT             connects, then becomes dd (no fork), which
//                                             reads from the socket until it ends
//   bwctraffic forkexecrecv HOST PORT         connects, then a child runs dd with the
//                                             socket as its input
//   bwctraffic forksend HOST PORT BYTES       a child connects and sends BYTES, no exec
//   bwctraffic execsend HOST PORT BYTES       connects, then becomes dd (no fork), which
//                                             sends BYTES through the socket
//   bwctraffic handprobe PROGRAM HOST PORT    makes a UDP socket, then becomes PROGRAM,
//                                             run as "heldprobe HOST PORT", which sends
//                                             a datagram on it: "sendto ERRNO"
//   bwctraffic probe HOST PORT DELAY_MS       after the delay, a TCP connect and a UDP
//                                             sendto, each with its wall time, the times
//                                             the scheduler took the CPU from it, the
//                                             times it slept and its CPU time:
//                                             "connect ERRNO USEC PREEMPTED SLEPT CPU_USEC
//                                             sendto ..."
// Prints "ready" once connected or listening, and the bytes it moved at the end.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

int connectTo(const char* host, const char* port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        fd = socket(found->ai_family, SOCK_STREAM, 0);
        if (connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
            usleep(50000); // the sink may still be starting
        }
    }
    freeaddrinfo(found);
    return fd;
}

bool sendAll(int fd, long long bytes)
{
    static char block[65536];
    while (bytes > 0) {
        const ssize_t sent = send(fd, block, size_t(std::min<long long>(bytes, sizeof(block))), 0);
        if (sent <= 0)
            return false;
        bytes -= sent;
    }
    return true;
}

tcp_info tcpInfo(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof(info);
    getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length);
    return info;
}

// IP and TCP header bytes of each segment; the peer's address is readable
// only while the connection is up.
unsigned headerBytes(int fd, const tcp_info& info)
{
    sockaddr_in6 peer{};
    socklen_t peerLength = sizeof(peer);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return 0;
    const bool v4 = peer.sin6_family == AF_INET || IN6_IS_ADDR_V4MAPPED(&peer.sin6_addr);
    return (v4 ? 20 : 40) + 20 + ((info.tcpi_options & TCPI_OPT_TIMESTAMPS) ? 12 : 0);
}

// What this end's kernel took in on a connection at the IP layer: every
// segment that arrived (repeats too) with its headers, the payload once.
unsigned long long ipBytesReceived(int fd)
{
    const tcp_info info = tcpInfo(fd);
    return info.tcpi_bytes_received + 1ull * headerBytes(fd, info) * info.tcpi_segs_in;
}

// Ends the sending side and prints what this end's kernel sent on the
// connection at the IP layer, every segment with its headers and repeats
// included, once the peer has read everything and closed: what crossed this
// end's device, which the receiver's count falls short of by whatever was
// sent twice.
void reportSent(int fd, long long bytes)
{
    const unsigned header = headerBytes(fd, tcpInfo(fd));
    shutdown(fd, SHUT_WR);
    const timeval patience{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
    char byte = 0;
    while (read(fd, &byte, 1) > 0) {
    }
    const tcp_info info = tcpInfo(fd);
    std::printf("sent %lld wire %llu retransmitted %u\n", bytes,
                info.tcpi_bytes_sent + 1ull * header * info.tcpi_segs_out, info.tcpi_total_retrans);
}

// Says "ready" once listening; receiveBuffer (when not 0) holds for every
// connection accepted.
int listenOn(const char* port, int receiveBuffer = 0)
{
    const int listener = socket(AF_INET6, SOCK_STREAM, 0);
    const int on = 1, off = 0;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off));
    if (receiveBuffer > 0)
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(uint16_t(std::atoi(port)));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 16) != 0) {
        std::perror("bwctraffic listen");
        close(listener);
        return -1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return listener;
}

int sink(const char* port, long long rate)
{
    // A small window: the sender cannot get far ahead of a reader that keeps to a rate.
    const int listener = listenOn(port, rate > 0 ? 128 * 1024 : 0);
    if (listener < 0)
        return 1;
    static char buffer[65536];
    for (;;) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            return 1;
        long long total = 0;
        ssize_t got;
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        while ((got = recv(fd, buffer, sizeof(buffer), 0)) > 0) {
            total += got;
            if (rate <= 0)
                continue;
            // Reading no faster than the rate makes the sender's TCP keep to it.
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double elapsed =
                double(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
            const double ahead = double(total) / double(rate) - elapsed;
            if (ahead > 0)
                usleep(useconds_t(ahead * 1e6));
        }
        const unsigned long long wire = ipBytesReceived(fd);
        close(fd);
        std::printf("received %lld wire %llu\n", total, wire);
        std::fflush(stdout);
    }
}

int source(const char* port, long long bytes)
{
    const int listener = listenOn(port);
    if (listener < 0)
        return 1;
    for (;;) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            return 1;
        if (sendAll(fd, bytes))
            reportSent(fd, bytes);
        close(fd);
        std::fflush(stdout);
    }
}

// Becomes dd reading the socket until it ends.
void execReader(int fd)
{
    dup2(fd, 0);
    close(fd);
    execlp("dd", "dd", "of=/dev/null", "bs=65536", "status=none", static_cast<char*>(nullptr));
}

struct ThreadClock
{
    long long wallNs = 0;
    long long cpuNs = 0;
    long preempted = 0; // involuntary context switches
    long slept = 0;     // voluntary ones: the thread waited for something

    static ThreadClock now()
    {
        ThreadClock clock;
        timespec wall{}, cpu{};
        clock_gettime(CLOCK_MONOTONIC, &wall);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        clock.wallNs = wall.tv_sec * 1000000000LL + wall.tv_nsec;
        clock.cpuNs = cpu.tv_sec * 1000000000LL + cpu.tv_nsec;
        clock.preempted = usage.ru_nivcsw;
        clock.slept = usage.ru_nvcsw;
        return clock;
    }
};

// One call on a fresh socket: "ERRNO USEC PREEMPTED SLEPT CPU_USEC". A call
// the scheduler interrupted takes as long as the machine is busy, not as the
// call; whether it slept and the CPU it took are the call's own.
template <typename Call> void report(const char* name, Call call)
{
    const ThreadClock before = ThreadClock::now();
    const int error = call() ? 0 : errno;
    const ThreadClock after = ThreadClock::now();
    std::printf("%s %d %lld %ld %ld %lld", name, error, (after.wallNs - before.wallNs) / 1000,
                after.preempted - before.preempted, after.slept - before.slept,
                (after.cpuNs - before.cpuNs) / 1000);
}

// What a fresh process meets on its first sockets.
int probe(const char* host, const char* port, int delayMs)
{
    usleep(useconds_t(delayMs) * 1000);
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0)
        return 2;
    const int tcp = socket(found->ai_family, SOCK_STREAM, 0);
    report("connect", [&] { return connect(tcp, found->ai_addr, found->ai_addrlen) == 0; });
    const int udp = socket(found->ai_family, SOCK_DGRAM, 0);
    report(" sendto",
           [&] { return sendto(udp, "x", 1, 0, found->ai_addr, found->ai_addrlen) == 1; });
    std::printf("\n");
    freeaddrinfo(found);
    return 0;
}

// Descriptor 3: a UDP socket made by the program this process ran before.
int heldProbe(const char* host, const char* port)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0)
        return 2;
    const ssize_t sent = sendto(3, "x", 1, 0, found->ai_addr, found->ai_addrlen);
    std::printf("sendto %d\n", sent == 1 ? 0 : errno);
    freeaddrinfo(found);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "sink" && argc >= 3)
        return sink(argv[2], argc > 3 ? std::atoll(argv[3]) : 0);
    if (mode == "probe" && argc >= 5)
        return probe(argv[2], argv[3], std::atoi(argv[4]));
    if (mode == "heldprobe" && argc >= 4)
        return heldProbe(argv[2], argv[3]);
    if (mode == "handprobe" && argc >= 5) {
        const int udp = socket(std::strchr(argv[3], ':') ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
        if (udp < 0 || dup2(udp, 3) != 3)
            return 1;
        execl(argv[2], argv[2], "heldprobe", argv[3], argv[4], static_cast<char*>(nullptr));
        return 127;
    }
    if (mode == "source" && argc >= 4)
        return source(argv[2], std::atoll(argv[3]));
    if ((mode == "execrecv" || mode == "forkexecrecv") && argc >= 4) {
        const int fd = connectTo(argv[2], argv[3]);
        if (fd < 0)
            return 1;
        if (mode == "execrecv") {
            execReader(fd);
            return 127;
        }
        const pid_t child = fork();
        if (child == 0) {
            execReader(fd);
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    if (mode == "forksend" && argc >= 5) {
        const pid_t child = fork();
        if (child == 0) {
            const int fd = connectTo(argv[2], argv[3]);
            _exit(fd >= 0 && sendAll(fd, std::atoll(argv[4])) ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    if ((mode == "send" || mode == "forkexec" || mode == "background" || mode == "execsend") &&
        argc >= 5) {
        const long long bytes = std::atoll(argv[4]);
        const int fd = connectTo(argv[2], argv[3]);
        if (fd < 0) {
            std::perror("bwctraffic connect");
            return 1;
        }
        std::printf("ready\n");
        std::fflush(stdout);
        if (mode == "send") {
            const auto given = [&](const char* option) {
                return std::any_of(argv + 5, argv + argc, [option](const char* arg) {
                    return std::strcmp(arg, option) == 0;
                });
            };
            if (given("--wait")) {
                sendAll(fd, 4096); // already talking before the test goes on
                char line[16];
                if (!std::fgets(line, sizeof(line), stdin))
                    return 1;
            }
            if (!sendAll(fd, bytes))
                return 1;
            if (given("--wire"))
                reportSent(fd, bytes);
            else
                std::printf("sent %lld\n", bytes);
            return 0;
        }
        if (mode == "execsend") {
            dup2(fd, 1);
            close(fd);
            const std::string count = "count=" + std::to_string(bytes / 65536);
            execlp("dd", "dd", "if=/dev/zero", "bs=65536", count.c_str(), "status=none",
                   static_cast<char*>(nullptr));
            return 127;
        }
        if (mode == "background") {
            if (fork() != 0)
                return 0;
            usleep(100000); // the parent is gone for good
            return sendAll(fd, bytes) ? 0 : 1;
        }
        const pid_t child = fork();
        if (child == 0) {
            dup2(fd, 1);
            close(fd);
            const std::string count = "count=" + std::to_string(bytes / 65536);
            execlp("dd", "dd", "if=/dev/zero", "bs=65536", count.c_str(), "status=none",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        reportSent(fd, (bytes / 65536) * 65536);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    std::fprintf(
        stderr,
        "usage: bwctraffic sink PORT [RATE] | source PORT BYTES | send HOST PORT BYTES [--wait] | "
        "execrecv|forkexecrecv HOST PORT | "
        "forkexec|background|forksend|execsend HOST PORT BYTES | probe HOST PORT DELAY_MS\n");
    return 2;
}
