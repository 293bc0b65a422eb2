// The main view's cost against bwcd with many applications, shown on the
// offscreen platform with statistics every second and the rates changing.
//
// For each application count (and for a baseline of one application, in the
// same run): CPU time of the whole process per minute and per statistics
// cycle, the median CPU time of one re-sort by upload rate, and the resident
// memory once the rows are loaded and after the measuring window. With
// --churn-seconds, bwcd's clock runs --speed times as fast so that
// applications start and stop often, and the growth of resident memory over
// that time is reported.
//
//   bench_view [--apps 300,1000] [--seconds 60] [--churn-seconds 120 --speed 720]
//
// Exits with 1 when a view does not show a row for every application (and, of
// course, when it crashes); the figures themselves never fail it.

#include "applicationsettings.h"
#include "applicationview.h"
#include "daemonprocess.h"
#include "datasource.h"
#include "hostapplication.h"
#include "hostsettings.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/resource.h>

namespace {

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

// Runs the event loop for ms milliseconds. QTest::qWait would wake every 10
// ms to look for deferred deletions, and its own cost would be counted as the
// view's.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

struct Figures
{
    int apps = 0;
    int rows = 0;
    double cpuPerMinute = 0; // seconds of CPU per minute
    double cpuPerCycle = 0;  // milliseconds per statistics cycle
    double resortMs = 0;     // median of one re-sort on the GUI thread
    double rssLoaded = 0;
    double rssAfter = 0;
    double rssChurnStart = 0;
    double rssChurnEnd = 0;
    int churnRowsMin = 0, churnRowsMax = 0;
};

Figures measure(const QString& folder, int apps, int seconds, int churnSeconds, int speed)
{
    Figures f;
    f.apps = apps;
    DaemonProcess daemon;
    QStringList args{"--apps", QString::number(apps), "--seed", "7"};
    if (churnSeconds > 0)
        args << "--speed" << QString::number(speed);
    if (!daemon.start(folder + QStringLiteral("/state-%1.json").arg(apps), args)) {
        std::fprintf(stderr, "bwcd did not start: %s\n", qPrintable(daemon.errorOutput()));
        return f;
    }
    qputenv("BWC_PORT", QByteArray::number(daemon.port()));

    // Each measurement starts from a fresh installation: the default order
    // (by name), all applications shown.
    std::unique_ptr<QSettings>(HostSettings::create())->clear();
    HostApplication host;
    auto settings = std::make_unique<ApplicationSettings>();
    if (!QTest::qWaitFor([&] { return settings->isBWCEnabled(); }, 10000))
        std::fprintf(stderr, "bwcd did not report bandwidth control on\n");
    auto view = std::make_unique<ApplicationView>(settings.get(), &host);
    view->resize(727, 572);
    view->show();
    const ApplicationList& list = view->applications();
    // Loaded once the row count has been steady for two seconds.
    int last = -1;
    QElapsedTimer steady;
    steady.start();
    QElapsedTimer limit;
    limit.start();
    while (limit.elapsed() < 60000 && (list.count() == 0 || steady.elapsed() < 2000)) {
        QTest::qWait(100);
        if (list.count() != last) {
            last = list.count();
            steady.restart();
        }
    }
    f.rows = list.count();
    f.rssLoaded = residentMB();

    int cycles = 0;
    DataSourceHandle rx = host.getDataSource(QStringLiteral("System.Network.Total.BandwidthRx"));
    QObject::connect(rx.get(), &DataSource::newData, [&] { ++cycles; });
    if (churnSeconds <= 0) {
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = processCpuSeconds();
        runFor(seconds * 1000);
        const double cpu = processCpuSeconds() - cpu0;
        f.cpuPerMinute = cpu / (wall.elapsed() / 60000.0);
        f.cpuPerCycle = cycles ? cpu * 1000 / cycles : 0;
        f.rssAfter = residentMB();

        // One re-sort by upload rate, alternating the direction so that
        // every call rebuilds the order and moves rows.
        auto* sort = view->findChild<QComboBox*>(QStringLiteral("comboBoxSort"));
        QList<double> resorts;
        for (int i = 0; i < 21; ++i) {
            const double t0 = threadCpuSeconds();
            sort->setCurrentIndex(i % 2 ? 2 : 3);
            resorts << (threadCpuSeconds() - t0) * 1000;
            QTest::qWait(20);
        }
        f.resortMs = median(resorts);
    } else {
        QTest::qWait(5000);
        f.rssChurnStart = residentMB();
        f.churnRowsMin = f.churnRowsMax = list.count();
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = processCpuSeconds();
        while (wall.elapsed() < churnSeconds * 1000) {
            runFor(1000);
            f.churnRowsMin = std::min(f.churnRowsMin, list.count());
            f.churnRowsMax = std::max(f.churnRowsMax, list.count());
        }
        f.cpuPerMinute = (processCpuSeconds() - cpu0) / (wall.elapsed() / 60000.0);
        f.rssChurnEnd = residentMB();
    }
    view.reset();
    settings.reset();
    daemon.terminate();
    return f;
}

// The offscreen platform says, each time a window's size limits change, that
// it cannot pass them on (it has no window manager to pass them to): noise
// between the figures, and nothing the view could do otherwise.
QtMessageHandler standardHandler = nullptr;

void quietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support propagateSizeHints")))
        return;
    if (standardHandler)
        standardHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "*.debug=false");
    // A run as root from a plain shell has no session folder; Qt would say so.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid() &&
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    standardHandler = qInstallMessageHandler(quietOffscreen);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption appsOption("apps", "application counts", "LIST", "300,1000");
    const QCommandLineOption secondsOption("seconds", "measuring window", "N", "60");
    const QCommandLineOption churnOption("churn-seconds", "churn run instead", "N", "0");
    const QCommandLineOption speedOption("speed", "bwcd clock speed under churn", "N", "720");
    parser.addOptions({appsOption, secondsOption, churnOption, speedOption});
    parser.addHelpOption();
    parser.process(app);
    // The rows load their skin images by paths relative to the executables.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    QTemporaryDir folder;
    HostSettings::useSystemScopeFolder(folder.path());

    const int seconds = parser.value(secondsOption).toInt();
    const int churn = parser.value(churnOption).toInt();
    const int speed = parser.value(speedOption).toInt();
    QList<int> counts{1};
    for (const QString& n : parser.value(appsOption).split(','))
        counts << n.toInt();

    if (churn > 0) {
        std::printf("apps rows(min-max) cpu%%/core rss-start MB rss-end MB growth MB "
                    "(%d s at %dx: %.1f simulated hours)\n",
                    churn, speed, churn * speed / 3600.0);
        for (int n : counts.mid(1)) {
            const Figures f = measure(folder.path(), n, seconds, churn, speed);
            std::printf("%4d %4d-%-4d %9.2f %12.1f %10.1f %9.1f\n", f.apps, f.churnRowsMin,
                        f.churnRowsMax, f.cpuPerMinute / 60 * 100, f.rssChurnStart, f.rssChurnEnd,
                        f.rssChurnEnd - f.rssChurnStart);
            std::fflush(stdout);
        }
        return 0;
    }

    std::printf("apps rows  cpu%%/core  cpu s/min  ms/cycle  resort ms  rss MB  "
                "(x baseline: cpu/min, cycle, resort, rss)\n");
    const auto ratio = [](double value, double base) { return base > 0 ? value / base : 0; };
    Figures base;
    int status = 0;
    for (int n : counts) {
        const Figures f = measure(folder.path(), n, seconds, 0, 1);
        if (n == 1)
            base = f;
        std::printf("%4d %4d %9.2f %10.2f %9.2f %10.3f %7.1f  (%.1fx, %.1fx, %.1fx, %.2fx)\n",
                    f.apps, f.rows, f.cpuPerMinute / 60 * 100, f.cpuPerMinute, f.cpuPerCycle,
                    f.resortMs, f.rssAfter, ratio(f.cpuPerMinute, base.cpuPerMinute),
                    ratio(f.cpuPerCycle, base.cpuPerCycle), ratio(f.resortMs, base.resortMs),
                    ratio(f.rssAfter, base.rssAfter));
        std::fflush(stdout);
        // Every simulated application runs or has run, so each has its row.
        if (f.rows < n) {
            std::fprintf(stderr, "the view shows %d rows of %d applications\n", f.rows, n);
            status = 1;
        }
    }
    return status;
}
