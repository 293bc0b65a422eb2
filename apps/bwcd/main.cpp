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

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int TickMs = 1000;

void say(const QString& line)
{
    std::fprintf(stderr, "bwcd: %s\n", qPrintable(line));
    std::fflush(stderr);
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
    ServiceState state;
    QString message;
    switch (stateFile.load(&state, &message)) {
    case StateFile::LoadResult::Failed:
        say(message);
        return 1;
    case StateFile::LoadResult::MovedAside:
        say(message);
        break;
    case StateFile::LoadResult::Loaded:
    case StateFile::LoadResult::Missing:
        break;
    }

    SimulatedBackend backend({options.seed, options.appCount, options.wireless});
    BandwidthService service(&backend, state, &stateFile);
    ServiceDaemon daemon(&service);
    if (!daemon.start()) {
        say(QStringLiteral("cannot listen on 127.0.0.1:%1 (is another service running?)")
                .arg(port));
        return 1;
    }

    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app,
                     [](int) { QCoreApplication::quit(); });
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, &backend, [&backend] { backend.advance(TickMs); });
    clock.start(TickMs);

    std::fprintf(stderr, "listening on 127.0.0.1:%u\n", unsigned(port));
    std::fflush(stderr);
    const int result = app.exec();
    daemon.stop();
    return result;
}
