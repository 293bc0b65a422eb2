// suitehost: the suite's host window with the Applications module. Loads the
// module file by path, runs it against the service on the loopback address
// and shows its main view with the features and overview panels.

#include "hostapplication.h"
#include "hostsettings.h"
#include "iplugin.h"
#include "pluginloader.h"
#include "servicemonitor.h"
#include "serviceport.h"
#include "suitehostoptions.h"
#include "suitewindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPalette>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString& line)
{
    std::fprintf(stderr, "suitehost: %s\n", qPrintable(line));
    std::fflush(stderr);
}

// Waits until the main view shows rows and has drawn a few rounds of rates,
// then writes the window as PNG (and each panel as BASE-main.png,
// BASE-features.png, BASE-overview.png) and quits; exit code 1 when no row
// appeared.
void scheduleScreenshot(SuiteWindow* window, const QString& strPath)
{
    constexpr int PollMs = 250;
    constexpr int SettleMs = 6000; // a few statistics rounds: bars and graphs show live rates
    constexpr int GiveUpMs = 60000;
    auto* poll = new QTimer(window);
    auto* started = new QElapsedTimer;
    started->start();
    QObject::connect(poll, &QTimer::timeout, window, [=] {
        const bool rows = window->visibleRowCount() > 0;
        if (!rows && started->elapsed() < GiveUpMs)
            return;
        poll->stop();
        delete started;
        QTimer::singleShot(rows ? SettleMs : 0, window, [=] {
            if (!window->grab().save(strPath, "PNG")) {
                say(QStringLiteral("cannot write %1").arg(strPath));
                QCoreApplication::exit(2);
                return;
            }
            say(QStringLiteral("screenshot written to %1").arg(strPath));
            // Each panel on its own beside it, for documentation.
            const QString base = strPath.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)
                                     ? strPath.chopped(4)
                                     : strPath;
            const std::pair<QWidget*, const char*> panels[] = {
                {window->mainPanel(), "main"},
                {window->featuresPanel(), "features"},
                {window->overviewPanel(), "overview"}};
            for (const auto& [panel, name] : panels) {
                if (panel)
                    panel->grab().save(QStringLiteral("%1-%2.png").arg(base, QLatin1String(name)));
            }
            if (!rows)
                say(QStringLiteral("the list showed no applications (is the service running?)"));
            window->close();
            QCoreApplication::exit(rows ? 0 : 1);
        });
    });
    poll->start(PollMs);
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    SuiteHostOptions options;
    QString error;
    if (!options.parse(arguments, &error)) {
        say(error);
        std::fputs(qPrintable(SuiteHostOptions::usage()), stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(SuiteHostOptions::usage()), stdout);
        return 0;
    }
    if (options.port)
        qputenv(ServicePort::EnvironmentVariable, QByteArray::number(options.port));
    if (!options.language.isEmpty())
        QLocale::setDefault(QLocale(options.language));

    QApplication app(argc, argv);
    // The suite's dark look, which the module's images are drawn for.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QPalette(QColor(0x40, 0x40, 0x40), QColor(0x30, 0x30, 0x30)));
    QCoreApplication::setOrganizationName(HostSettings::organizationName());
    QCoreApplication::setApplicationName(QStringLiteral("suitehost"));
    // The suite keeps its settings in the system scope, which a normal user
    // cannot write; this host keeps them in the user's configuration folder.
    HostSettings::useSystemScopeFolder(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    // The module has slots for controls its forms do not have; the warnings
    // that they find no signal are noise here.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.core.qmetaobject.connectslotsbyname=false\n*.debug=false"));
    // Modules load their images by paths relative to the host's folder.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    const QString pluginPath = options.resolvedPluginPath(QCoreApplication::applicationDirPath());
    PluginLoader loader;
    IPlugin* plugin = loader.load(pluginPath);
    if (!plugin) {
        say(loader.errorString());
        return 1;
    }

    HostApplication host;
    ServiceMonitor monitor(&host);
    int code = 0;
    {
        SuiteWindow window(plugin, &host);
        if (!options.screenshotPath.isEmpty())
            scheduleScreenshot(&window, options.screenshotPath);
        window.show();
        code = app.exec();
        window.shutdown();
    }
    return code;
}
