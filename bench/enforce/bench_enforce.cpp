// Enforcement's cost and accuracy, on iperf3 transfers between two network
// namespaces (run as root):
//  - throughput and CPU at the fastest the veth pair carries, with shaping
//    off and with every packet passing the HTB trees and the IFB device;
//  - how close the 10-second average comes to a cap, ours against trickle
//    (which caps one program from user space, TCP only) on the same transfers.
// Every figure is the median of --runs runs (default 3), all in one run of
// this program, because the machine is shared.

#include "iperfrun.h"
#include "netnslab.h"
#include "servicestate.h"
#include "shapingpolicy.h"
#include "trafficenforcer.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

constexpr qint64 Mbit = 1000 * 1000 / 8;

struct CpuSample
{
    quint64 busy = 0;
    quint64 total = 0;
};

CpuSample cpu()
{
    QFile stat(QStringLiteral("/proc/stat"));
    CpuSample sample;
    if (!stat.open(QIODevice::ReadOnly))
        return sample;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    for (int i = 1; i < fields.size(); ++i) {
        const quint64 value = fields.at(i).toULongLong();
        sample.total += value;
        if (i != 4 && i != 5) // idle, iowait
            sample.busy += value;
    }
    return sample;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

struct Result
{
    double rate = 0;  // bytes per second, receiver's average
    double cores = 0; // busy cores of the whole machine during the run
};

Result transfer(NetnsLab* lab, IperfRun::Options options)
{
    IperfRun run(lab, options);
    const CpuSample before = cpu();
    if (!run.start() || !run.finish()) {
        std::fprintf(stderr, "iperf3: %s\n", qPrintable(run.error()));
        return {};
    }
    const CpuSample after = cpu();
    const double share = after.total > before.total
                             ? double(after.busy - before.busy) / double(after.total - before.total)
                             : 0;
    return {run.average(), share * double(::sysconf(_SC_NPROCESSORS_ONLN))};
}

void enforce(TrafficEnforcer* enforcer, bool enabled, qint64 up, qint64 down)
{
    ServiceState state;
    state.enabled = enabled;
    state.globalUploadMax = state.globalDownloadMax = Limits::NoLimit;
    AppSettings app;
    app.uploadMax = qint32(up);
    app.downloadMax = qint32(down);
    state.setSettings(QStringLiteral("app1"), app);
    enforcer->apply(ShapingPolicy(state), {{1, QStringLiteral("app1")}});
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs =
        qMax(1, app.arguments().indexOf("--runs") > 0
                    ? app.arguments().value(app.arguments().indexOf("--runs") + 1).toInt()
                    : 3);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "bench_enforce: needs root\n");
        return 1;
    }
    NetnsLab lab;
    if (!lab.error().isEmpty()) {
        std::fprintf(stderr, "bench_enforce: %s\n", qPrintable(lab.error()));
        return 1;
    }
    TrafficEnforcer enforcer;
    TrafficEnforcer::Options options;
    options.tagMapFd = lab.tagMapFd();
    options.cgroup = lab.cgroupRoot();
    options.netns = "/run/netns/" + lab.appNetns();
    options.wholeMachine = false;
    QString error;
    if (!enforcer.start(options, &error)) {
        std::fprintf(stderr, "bench_enforce: %s\n", qPrintable(error));
        return 1;
    }

    std::printf("== fastest rate, TCP over IPv4, 1 stream, 10 s, median of %d\n", runs);
    std::printf("%-10s %-8s %12s %8s %14s\n", "direction", "shaping", "Mbit/s", "cores",
                "cores per Gbit/s");
    for (const bool download : {false, true}) {
        Result medians[2];
        for (const bool shaping : {false, true}) {
            QList<double> rates, cores, costs;
            for (int i = 0; i < runs; ++i) {
                // A cap far above what the pair carries: every packet passes the
                // trees (and for download the IFB device) without being held.
                enforce(&enforcer, shaping, 2000000000, 2000000000);
                IperfRun::Options o;
                o.download = download;
                const Result r = transfer(&lab, o);
                rates << r.rate;
                cores << r.cores;
                costs << (r.rate > 0 ? r.cores / (r.rate * 8 / 1e9) : 0);
            }
            medians[shaping] = {median(rates), median(cores)};
            std::printf("%-10s %-8s %12.0f %8.2f %14.3f\n", download ? "download" : "upload",
                        shaping ? "on" : "off", median(rates) * 8 / 1e6, median(cores),
                        median(costs));
        }
        // Ratios of this run's medians: the machine is shared, figures of
        // different runs do not compare.
        const auto perGbit = [](const Result& r) { return r.rate > 0 ? r.cores / r.rate : 0; };
        std::printf("%-10s on/off: throughput %.3f, cores %.3f, cores per Gbit/s %.3f\n",
                    download ? "download" : "upload",
                    medians[0].rate > 0 ? medians[1].rate / medians[0].rate : 0,
                    medians[0].cores > 0 ? medians[1].cores / medians[0].cores : 0,
                    perGbit(medians[0]) > 0 ? perGbit(medians[1]) / perGbit(medians[0]) : 0);
    }

    std::printf("\n== cap accuracy: receiver's average of seconds 2-11 / cap (median of %d),"
                " worst second after the first\n",
                runs);
    std::printf("%-22s %10s %10s %10s %10s\n", "transfer", "ours", "worst", "trickle", "worst");
    struct Case
    {
        const char* name;
        bool download, udp, ipv6;
        qint64 cap;
    };
    const Case cases[] = {
        {"tcp4 up 1M", false, false, false, 1 * Mbit},
        {"tcp4 up 10M", false, false, false, 10 * Mbit},
        {"tcp4 up 100M", false, false, false, 100 * Mbit},
        {"tcp4 down 10M", true, false, false, 10 * Mbit},
        {"tcp6 down 100M", true, false, true, 100 * Mbit},
        {"udp4 up 10M", false, true, false, 10 * Mbit},
        {"udp6 down 10M", true, true, true, 10 * Mbit},
    };
    for (const Case& c : cases) {
        QList<double> figures[4];
        for (int i = 0; i < runs; ++i) {
            for (const bool trickle : {false, true}) {
                IperfRun::Options o;
                o.download = c.download;
                o.udp = c.udp;
                o.ipv6 = c.ipv6;
                o.seconds = 12;
                o.udpOffered = quint64(c.cap) * 2;
                if (!c.udp)
                    o.blockBytes = int(qBound<qint64>(1024LL, c.cap / 64, 128 * 1024LL));
                if (trickle) {
                    enforce(&enforcer, false, -1, -1);
                    const QString kb = QString::number(double(c.cap) / 1000.0);
                    o.wrapper = {"trickle", "-s", c.download ? "-d" : "-u", kb};
                } else {
                    enforce(&enforcer, true, c.download ? -1 : c.cap, c.download ? c.cap : -1);
                }
                IperfRun run(&lab, o);
                if (!run.start() || !run.finish()) {
                    std::fprintf(stderr, "%s: %s\n", c.name, qPrintable(run.error()));
                    continue;
                }
                double worst = 0;
                const QList<double> seconds = run.seconds();
                for (int s = 1; s < seconds.size(); ++s)
                    worst = qMax(worst, qAbs(seconds.at(s) / double(c.cap) - 1));
                figures[trickle ? 2 : 0] << run.average() / double(c.cap);
                figures[trickle ? 3 : 1] << 1 + worst;
            }
        }
        std::printf("%-22s %10.4f %10.4f %10.4f %10.4f\n", c.name, median(figures[0]),
                    median(figures[1]), median(figures[2]), median(figures[3]));
    }
    return 0;
}
