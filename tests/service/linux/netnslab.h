#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct testtagger_bpf;

// A little network for one test run: namespaces "app" and "peer" joined by a
// veth pair (IPv4 and IPv6), a cgroup per test application whose sockets a
// tagging program marks with the application's number, and helpers that run
// programs there. A third namespace, "host", stands for the one the service
// runs in: apart from the others, or (Routed) between them as a machine
// between its containers and the network, forwarding. Everything is removed
// by the destructor, and what a run that died left behind is removed by the
// next.
class NetnsLab
{
public:
    enum class Topology
    {
        Direct, // app <-> peer
        Routed, // app <-> host <-> peer
    };

    explicit NetnsLab(Topology topology = Topology::Direct);
    ~NetnsLab();

    // Empty when the lab stands; otherwise what failed.
    QString error() const { return m_error; }

    // The addresses of the peer side, and of the application side.
    static QString peerAddress(bool ipv6) { return ipv6 ? "fd77::2" : "10.77.0.2"; }
    QString appAddress(bool ipv6) const;
    QString appNetns() const { return m_appNs; }
    QString peerNetns() const { return m_peerNs; }
    QString hostNetns() const { return m_hostNs; }
    QString appDevice() const { return QStringLiteral("bwcta"); }
    QString cgroupRoot() const { return m_cgroup; }
    int tagMapFd() const;

    // A second way between the namespaces, over tun devices "bwcttun" (a
    // device without a link header, as VPN tunnels are) that the relay
    // command, run in the application namespace with the peer namespace's
    // file and the device name as arguments, joins; the peer is 10.79.0.2
    // and fd79::2 that way.
    bool addTunnel(const QStringList& relay);
    void removeTunnel();

    // Makes the calling thread work in the application namespace (the
    // shaper's netlink and tc attachments then go there), and back.
    bool enterAppNetns();
    void leaveAppNetns();

    // Starts a program in a namespace; app > 0 runs it in that application's
    // cgroup, so its sockets carry the number. The lab kills what is still
    // running when it goes.
    QProcess* start(const QString& netns, quint32 app, const QStringList& command);
    // Runs a command to its end; gives its exit code (-1 when it did not finish).
    static int run(const QStringList& command, QByteArray* output = nullptr, int timeoutMs = 20000);

private:
    bool setUp();
    bool limitPeerSegments();
    void tearDown();
    QString appCgroup(quint32 app);

    QString m_error;
    Topology m_topology;
    QString m_appNs;
    QString m_peerNs;
    QString m_hostNs;
    QString m_cgroup;
    int m_homeNs = -1;
    testtagger_bpf* m_tagger = nullptr;
    int m_taggerLink = -1;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QProcess* m_relay = nullptr;
};
