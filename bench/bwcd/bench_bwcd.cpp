// How much of one core bwcd needs while two clients poll its statistics once
// a second, as the module's application view does, for 30 and for 300
// applications; the baseline is the same daemon with no clients at all.
//
// And how much memory bwcd takes on for a client that pipelines N
// BWCEnumApps and reads the replies only a second later (BM_PipelinedReadLate,
// filter "Pipelined"; N = 1 is the baseline): the growth of its peak resident
// size, with the time until every reply was read.
//
// Each case runs BWC_BENCH_SECONDS (default 60) seconds of wall time. The
// daemon's CPU time is read from /proc/<pid>/schedstat (nanoseconds) where
// there is one, else from getrusage() of the child after it has ended.

#include "commands.h"
#include "daemonprocess.h"
#include "serviceclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <sys/resource.h>

namespace {

constexpr int WindowSeconds = 5;

int benchSeconds()
{
    const int seconds = qEnvironmentVariableIntValue("BWC_BENCH_SECONDS");
    return seconds > 0 ? seconds : 60;
}

// CPU time of a process in nanoseconds, or -1 when the system does not say.
qint64 cpuNanoseconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readLine().split(' ').value(0).toLongLong();
}

// CPU time of every ended child, in nanoseconds.
qint64 childrenNanoseconds()
{
    rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ns = [](const timeval& t) {
        return qint64(t.tv_sec) * 1000000000 + t.tv_usec * 1000;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

void run(benchmark::State& state, int apps, int clients)
{
    QTemporaryDir dir;
    DaemonProcess daemon;
    const qint64 childrenBefore = childrenNanoseconds();
    if (!daemon.start(dir.filePath(QStringLiteral("state.json")),
                      {QStringLiteral("--apps"), QString::number(apps)})) {
        state.SkipWithError("bwcd did not start");
        return;
    }
    QList<ServiceClient*> connections;
    for (int i = 0; i < clients; ++i) {
        connections.append(new ServiceClient);
        if (!connections.last()->connectTo(daemon.port())) {
            state.SkipWithError("cannot connect to bwcd");
            qDeleteAll(connections);
            return;
        }
        // What the module asks once before it starts polling.
        connections.last()->ask(new BCI_EnumDevices);
        connections.last()->ask(new BCI_BWCEnumApps);
    }

    const int seconds = benchSeconds();
    QList<double> windows; // share of one core per window, percent
    qint64 replies = 0;
    const qint64 start = cpuNanoseconds(daemon.pid());
    for (auto _ : state) {
        QElapsedTimer wall;
        wall.start();
        qint64 windowStart = start;
        for (int second = 1; second <= seconds; ++second) {
            for (ServiceClient* client : std::as_const(connections))
                replies += client->ask(new BCI_BWCStats) != nullptr;
            // Pacing: the module polls once a second.
            const qint64 wait = qint64(second) * 1000 - wall.elapsed();
            if (wait > 0)
                QThread::msleep(quint64(wait));
            if (second % WindowSeconds == 0 && start >= 0) {
                const qint64 now = cpuNanoseconds(daemon.pid());
                windows.append(double(now - windowStart) / (WindowSeconds * 1e9) * 100);
                windowStart = now;
            }
        }
        state.SetIterationTime(double(wall.elapsed()) / 1000);
    }
    const qint64 end = cpuNanoseconds(daemon.pid());
    qDeleteAll(connections);
    daemon.terminate();
    const double used =
        start >= 0 ? double(end - start) : double(childrenNanoseconds() - childrenBefore);
    std::sort(windows.begin(), windows.end());
    state.counters["cpu_pct"] = used / (seconds * 1e9) * 100;
    state.counters["cpu_pct_median_5s"] = windows.isEmpty() ? 0 : windows[windows.size() / 2];
    state.counters["replies"] = double(replies);
}

void BM_Idle(benchmark::State& state)
{
    run(state, int(state.range(0)), 0);
}

void BM_TwoPollingClients(benchmark::State& state)
{
    run(state, int(state.range(0)), 2);
}

void BM_PipelinedReadLate(benchmark::State& state)
{
    const int count = int(state.range(0));
    QTemporaryDir dir;
    DaemonProcess daemon;
    ServiceClient client;
    if (!daemon.start(dir.filePath(QStringLiteral("state.json"))) ||
        !client.connectTo(daemon.port()) || !client.ask(new BCI_BWCEnumApps)) {
        state.SkipWithError("bwcd did not start");
        return;
    }
    const qint64 baseline = daemon.peakMemoryKb();
    int answered = 0;
    for (auto _ : state) {
        QElapsedTimer wall;
        wall.start();
        for (int i = 0; i < count; ++i)
            client.send(BaseCommandPtr(new BCI_BWCEnumApps));
        QThread::msleep(1000);
        while (answered < count) {
            const BaseCommandPtr reply = client.readFrame(20000);
            if (!reply)
                break;
            answered += !reply->HasTypeBits(BWC_BROADCAST_BITS);
        }
        state.SetIterationTime(double(wall.elapsed()) / 1000);
    }
    state.counters["peak_growth_MB"] = double(daemon.peakMemoryKb() - baseline) / 1024;
    state.counters["answered"] = answered;
    daemon.terminate();
}

} // namespace

BENCHMARK(BM_PipelinedReadLate)
    ->Arg(1)
    ->Arg(5000)
    ->Arg(20000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_Idle)->Arg(30)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_TwoPollingClients)->Arg(30)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_TwoPollingClients)->Arg(300)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
