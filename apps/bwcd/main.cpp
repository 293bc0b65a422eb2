// bwcd: the bandwidth-control service that the Applications module and
// bwcctl talk to. All of its logic lives in the bwcservice library.

#include "bandwidthservice.h"
#include "daemonoptions.h"
#include "headlessgui.h"
#include "servicedaemon.h"
#include "serviceport.h"
#include "servicestate.h"
#include "signalwatcher.h"
#include "simulatedbackend.h"
#include "statefile.h"

#ifdef BWC_LINUX_ENFORCEMENT
#include "memoryreturner.h"
#include "peeraccesspolicy.h"
#endif

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

#ifdef BWC_HAVE_LINUX_BACKEND
#include "linuxbackend.h"
#endif

namespace {

constexpr int TickMs = 1000;
constexpr int MemoryReturnMs = 2000;

void say(const QString& line)
{
    std::fprintf(stderr, "bwcd: %s\n", qPrintable(line));
    std::fflush(stderr);
}

// The backend the options name, started; null (with the reason said) when it
// cannot run here.
std::unique_ptr<Backend> makeBackend(const DaemonOptions& options, QTimer* clock)
{
    if (options.backend == QLatin1String("linux")) {
#ifdef BWC_HAVE_LINUX_BACKEND
        // BWC_LINUX_CGROUP confines the backend to one cgroup (tests do);
        LinuxBackend::Options linuxOptions;
        linuxOptions.cgroup = qEnvironmentVariable("BWC_LINUX_CGROUP");
        // BWC_LINUX_NETNS names the network namespace whose devices are
        // listed and shaped (tests use one of their own).
        linuxOptions.deviceNetns = qEnvironmentVariable("BWC_LINUX_NETNS");
        // BWC_LINUX_DESCRIPTION_MS: how long a program's description holds
        // before it is made again (tests change files and wait for it).
        bool ok = false;
        const int lifetime = qEnvironmentVariableIntValue("BWC_LINUX_DESCRIPTION_MS", &ok);
        if (ok && lifetime > 0)
            linuxOptions.descriptionLifetimeMs = lifetime;
        auto backend = std::make_unique<LinuxBackend>(linuxOptions);
        QString error;
        if (!backend->start(&error)) {
            say(QStringLiteral("--backend linux %1").arg(error));
            return nullptr;
        }
        return backend;
#else
        say(QStringLiteral("--backend linux is not built into this bwcd (building it needs "
                           "libbpf, bpftool, clang and a kernel with BTF)"));
        return nullptr;
#endif
    }
    auto simulated = std::make_unique<SimulatedBackend>(
        SimulatedBackend::Options{options.seed, options.appCount, options.wireless});
    SimulatedBackend* backend = simulated.get();
    const int step = TickMs * options.speed;
    QObject::connect(clock, &QTimer::timeout, backend, [backend, step] { backend->advance(step); });
    return simulated;
}

} // namespace

int main(int argc, char* argv[])
{
    HeadlessGui::prepare();
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Corvid Networks"));
    QCoreApplication::setApplicationName(QStringLiteral("bwcd"));

    DaemonOptions options;
    QString error;
    if (!options.parse(QCoreApplication::arguments(), &error)) {
        say(error);
        std::fputs(qPrintable(DaemonOptions::usage()), stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(DaemonOptions::usage()), stdout);
        return 0;
    }
    if (!options.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    // The transport listens on the port the environment names.
    if (options.port)
        qputenv(ServicePort::EnvironmentVariable, QByteArray::number(options.port));
    const quint16 port = ServicePort::fromEnvironment();

    const StateFile stateFile(options.statePath.isEmpty() ? StateFile::defaultPath()
                                                          : options.statePath);
    // On a real machine nothing is held back until the user sets global
    // maxima; the simulated machine starts from the maxima of its invented line.
    ServiceState factory;
    if (options.backend == QLatin1String("linux"))
        factory.globalUploadMax = factory.globalDownloadMax = Limits::NoLimit;
    ServiceState state;
    QString message;
    switch (stateFile.load(&state, &message)) {
    case StateFile::LoadResult::Failed:
        say(message);
        return 1;
    case StateFile::LoadResult::MovedAside:
        say(message);
        state = factory;
        break;
    case StateFile::LoadResult::Missing:
        state = factory;
        break;
    case StateFile::LoadResult::Loaded:
        break;
    }

    QTimer clock;
    const std::unique_ptr<Backend> backend = makeBackend(options, &clock);
    if (!backend)
        return 1;
    BandwidthService service(backend.get(), state, &stateFile);
    service.setFactoryState(factory);
    ServiceDaemon daemon(&service);
#ifdef BWC_LINUX_ENFORCEMENT
    // Every local user can reach the port; only some may change the rules.
    daemon.setClientPolicy(std::make_shared<PeerAccessPolicy>(options.controlGroup));
#endif
    if (!daemon.start()) {
        say(QStringLiteral("cannot listen on 127.0.0.1:%1 (is another service running?)")
                .arg(port));
        return 1;
    }
    // Listening makes this the document's only user: saves cut short by a kill are swept away.
    stateFile.removeLeftovers();

#ifdef BWC_LINUX_ENFORCEMENT
    // What a burst of clients took is given back a moment after they left.
    const MemoryReturner returner(MemoryReturnMs);
#endif
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app,
                     [](int) { QCoreApplication::quit(); });
    // For tests of what happens while the service is busy: with
    // BWCD_TEST_HOLD_MS set, SIGUSR1 keeps this thread and the transport's
    // busy for that long.
    const int holdMs = qEnvironmentVariableIntValue("BWCD_TEST_HOLD_MS");
    if (holdMs > 0) {
        watcher.watchHoldSignal();
        QObject::connect(&watcher, &SignalWatcher::holdRequested, &app, [holdMs, &daemon] {
            daemon.holdTransport(holdMs);
            say(QStringLiteral("holding the service's threads for %1 ms").arg(holdMs));
            QThread::msleep(holdMs);
            say(QStringLiteral("service released"));
        });
    }
    clock.start(TickMs);

    std::fprintf(stderr, "listening on 127.0.0.1:%u\n", unsigned(port));
    std::fflush(stderr);
    const int result = app.exec();
    daemon.stop();
    return result;
}
