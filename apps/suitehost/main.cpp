// suitehost: the suite's host window with the Applications module. Loads the
// module file by path, runs it against the service on the loopback address
// and shows its main view with the features and overview panels.

#include "hostapplication.h"
#include "hostsettings.h"
#include "iplugin.h"
#include "languagecode.h"
#include "pluginloader.h"
#include "servicemonitor.h"
#include "serviceport.h"
#include "suitehostoptions.h"
#include "suitewindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QPalette>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace {

void say(const QString& line)
{
    std::fprintf(stderr, "suitehost: %s\n", qPrintable(line));
    std::fflush(stderr);
}

// Waits until the service answers and the main view has shown the same
// number of rows for a few statistics rounds (the list has stopped filling
// and the bars and graphs show live rates), then writes the window as PNG (and
// each panel as BASE-main.png, BASE-features.png, BASE-overview.png) and
// quits; exit code 1 when no row appeared within a minute.
void scheduleScreenshot(SuiteWindow* window, const HostApplication* host, const QString& strPath)
{
    constexpr int PollMs = 250;
    constexpr int SettleMs = 6000;
    constexpr int GiveUpMs = 60000;
    auto* poll = new QTimer(window);
    auto started = std::make_shared<QElapsedTimer>();
    auto steady = std::make_shared<QElapsedTimer>();
    auto lastCount = std::make_shared<int>(-1);
    started->start();
    QObject::connect(poll, &QTimer::timeout, window, [=] {
        const int count = host->isServiceOnline() ? window->visibleRowCount() : 0;
        if (count != *lastCount) {
            *lastCount = count;
            steady->start();
        }
        const bool rows = count > 0;
        const bool settled = rows && steady->elapsed() >= SettleMs;
        if (!settled && started->elapsed() < GiveUpMs)
            return;
        poll->stop();
        QTimer::singleShot(0, window, [=] {
            if (!window->grab().save(strPath, "PNG")) {
                say(QCoreApplication::translate("suitehost", "cannot write %1").arg(strPath));
                QCoreApplication::exit(2);
                return;
            }
            say(QCoreApplication::translate("suitehost", "screenshot written to %1").arg(strPath));
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
                say(QCoreApplication::translate(
                    "suitehost", "the list showed no applications (is the service running?)"));
            window->close();
            QCoreApplication::exit(rows ? 0 : 1);
        });
    });
    poll->start(PollMs);
}

// The host's texts and those of the suite library it stands in for (unit
// names, the suite's name), and Qt's own where they are installed, in the
// language of --lang or else of the system.
void installTranslations(QTranslator& host, QTranslator& qt)
{
    const QString code = QLanguageToISO639(QLocale().language());
    const QDir folder(QCoreApplication::applicationDirPath() + QLatin1String("/localization"));
    if (host.load(folder.filePath(QStringLiteral("suitehost_") + code)))
        QCoreApplication::installTranslator(&host);
    if (qt.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qt);
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
    QTranslator hostTranslator;
    QTranslator qtTranslator;
    installTranslations(hostTranslator, qtTranslator);
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
            scheduleScreenshot(&window, &host, options.screenshotPath);
        window.show();
        code = app.exec();
        window.shutdown();
    }
    return code;
}
