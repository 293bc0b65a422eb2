#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class NetnsLab;
class QProcess;

// One iperf3 transfer between the lab's namespaces: the client runs as a test
// application (its cgroup tags its sockets), the server on the peer side.
// Figures are the receiving side's, in bytes per second of payload: for TCP
// what the receiver's kernel took in each second on the test's clock (the
// receiving program may read late on a busy machine and then drain its
// socket in a burst the link never carried), for UDP iperf3's own intervals.
class IperfRun
{
public:
    struct Options
    {
        quint32 app = 1;
        bool download = false; // the peer sends, the application receives
        bool udp = false;
        bool ipv6 = false;
        int seconds = 10;
        quint64 udpOffered = 0; // bytes per second a UDP sender offers
        int streams = 1;
        int blockBytes = 0;  // read and write size; 0: iperf3's own
        QStringList wrapper; // runs the client through this (e.g. trickle)
        QString host;        // the server's address; empty: the peer's on the veth pair
        QString netns;       // the client's namespace; empty: the lab's application side
    };

    IperfRun(NetnsLab* lab, const Options& options);
    ~IperfRun();
    IperfRun(const IperfRun&) = delete;
    IperfRun& operator=(const IperfRun&) = delete;
    // Starts both sides; false when either does not come up.
    bool start();
    // Waits for the end and reads the figures; false (with error()) when the run failed.
    bool finish(int timeoutMs = 60000);
    // Stops a running transfer.
    void abort();
    // Waits for every run to end, calling meanwhile every 100 ms or so (as
    // a service's timer ticks), and reads their figures; false (with the
    // failed run's error in *error) when one failed.
    static bool finishAll(const QList<IperfRun*>& runs, const std::function<void()>& meanwhile,
                          QString* error);

    QString error() const { return m_error; }
    bool running() const;
    // Over the intervals after the first (slow start, and a first
    // offload-sized packet that a token bucket lets through at once) and
    // before the last.
    double average() const;
    QList<double> seconds() const { return m_intervals; }
    // The payload a cap lets through, per byte of the cap, in full-size
    // packets of 1500 bytes: a cap counts 38 bytes of headers below the
    // applications' data, TCP with timestamps has 52 over IPv4 and 72 over
    // IPv6 (0.990 and 0.977 of the cap), UDP 28 and 48 (1.007 and 0.993).
    double capShare() const;

    // How transfers held a cap, each second as a share of what the cap lets
    // through (capShare()).
    struct CapFit
    {
        double whole = 0;      // the window's average
        double typical = 0;    // its median second
        QList<double> seconds; // the window's seconds
        // At the cap, on a busy machine too (the bounds are explained beside them).
        bool held() const;
        QString text() const;
    };
    // Over the seconds whose middle lies in [from, to) seconds of the
    // transfer; to < 0: up to its last second, which it may end in.
    CapFit capFit(double cap, double from = 1, double to = -1) const;
    // Runs of one application at once against its one cap, second by second.
    static CapFit capFit(const QList<const IperfRun*>& runs, double cap, double from, double to);

private:
    class Arrivals;
    static int nextPort();
    // The iperf3 intervals of the receiver, from the client's report.
    bool readIntervals(const QByteArray& output);

    NetnsLab* m_lab;
    Options m_options;
    int m_port = 0;
    QProcess* m_server = nullptr;
    QProcess* m_client = nullptr;
    QList<double> m_intervals; // bytes per second, one per interval
    QList<double> m_durations;
    QList<double> m_middles; // seconds since the transfer's start
    QString m_error;
    std::unique_ptr<Arrivals> m_arrivals;
};
