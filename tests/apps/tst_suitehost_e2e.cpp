// End to end under Xvfb with real input: bwcd with its simulated backend, the
// host window with the real module, and xdotool moving the X pointer and
// pressing keys. What the user does must reach bwcd (read back with bwcctl),
// and the window must follow what the service and the panels say.
//
// The window runs in this process so that the test can find where the rows
// and bars are on the screen; the suitehost executable itself is driven the
// same way for what needs no coordinates (F1, Ctrl+Q).

#include "daemonprocess.h"
#include "hostapplication.h"
#include "hostsettings.h"
#include "iplugin.h"
#include "pluginloader.h"
#include "servicemonitor.h"
#include "suitewindow.h"

#include <QTextDocumentFragment>
#include <QtTest>
#include <QtWidgets>

namespace {

constexpr int waitMS = 30000; // generous: the machine may be busy
constexpr int AppCount = 8;   // bwcd's simulated applications

// Runs xdotool with the arguments while this process goes on handling events;
// nothing when it times out, as a search that never finds its window does.
QString xdotool(const QStringList& arguments)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral("xdotool"), arguments);
    if (!finished.wait(waitMS))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList at(const QWidget* widget, QPoint point)
{
    const QPoint global = widget->mapToGlobal(point);
    return {"mousemove", "--sync", QString::number(global.x()), QString::number(global.y())};
}

void click(const QWidget* widget)
{
    xdotool(at(widget, widget->rect().center()) + QStringList{"click", "1"});
}

// The service's record of the application named strName, as bwcctl prints it.
QJsonObject serviceApp(quint16 port, const QString& strName)
{
    QProcess ctl;
    ctl.start(QStringLiteral(BWCCTL_PATH), {"--port", QString::number(port), "--json", "apps"});
    if (!ctl.waitForFinished(waitMS))
        return {};
    const QJsonArray apps = QJsonDocument::fromJson(ctl.readAllStandardOutput()).array();
    for (const QJsonValue& app : apps) {
        if (app["name"].toString() == strName)
            return app.toObject();
    }
    return {};
}

} // namespace

class TestSuiteHostEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    DaemonProcess m_daemon;

private slots:
    void initTestCase()
    {
        QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "runs under Xvfb (see CMakeLists.txt)");
        QVERIFY(m_folder.isValid());
        HostSettings::useSystemScopeFolder(m_folder.path());
        QVERIFY(
            m_daemon.start(m_folder.filePath("state.json"), {"--apps", QString::number(AppCount)}));
        qputenv("BWC_PORT", QByteArray::number(m_daemon.port()));
    }

    void capBlockAndSwitchOff()
    {
        HostApplication host;
        ServiceMonitor monitor(&host);
        PluginLoader loader;
        IPlugin* plugin = loader.load(MODAPPLICATIONS_PATH);
        QVERIFY2(plugin, qPrintable(loader.errorString()));
        SuiteWindow window(plugin, &host);
        window.move(0, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The service online and every application listed and named: the
        // rows stop moving. A refetch of the globals when the host reports the
        // service online makes the view build its rows anew, so a row may
        // still be replaced under the first click; then the next one is taken.
        QTRY_VERIFY_WITH_TIMEOUT(host.isServiceOnline(), waitMS);
        QPointer<QWidget> row;
        QWidget* bar = nullptr;
        auto pickTopRow = [&] {
            int named = 0;
            row = nullptr;
            for (QWidget* child : window.mainPanel()->findChildren<QWidget*>()) {
                if (!child->inherits("Application") || !child->isVisible())
                    continue;
                named += !child->findChild<QLabel*>("labelName")->text().isEmpty();
                if (!row || child->mapTo(&window, QPoint()).y() < row->mapTo(&window, QPoint()).y())
                    row = child;
            }
            return named == AppCount;
        };
        bool selected = false;
        for (int attempt = 0; attempt < 3 && !selected; ++attempt) {
            QTRY_VERIFY_WITH_TIMEOUT(pickTopRow(), waitMS);
            bar = row->findChild<QWidget*>("progressUp");
            // A click on the row selects it; only the selected row's bars drag.
            click(row->findChild<QLabel*>("labelName"));
            selected = QTest::qWaitFor([&] { return row && bar->hasMouseTracking(); }, 5000);
        }
        QVERIFY(selected);
        // The whole name, from the tool tip (rich text, so that no name is taken as markup).
        const QString app =
            QTextDocumentFragment::fromHtml(row->findChild<QLabel*>("labelName")->toolTip())
                .toPlainText();
        QVERIFY(!serviceApp(m_daemon.port(), app).isEmpty());
        QCOMPARE(serviceApp(m_daemon.port(), app)["uploadMax"].toInt(), -2); // the default

        // Drag the end of its upload bar a third of the way to the left.
        const QPoint grip(bar->width() - 2, bar->height() / 2);
        const QPoint end = grip - QPoint(bar->width() / 3, 0);
        xdotool(at(bar, grip) + QStringList{"mousedown", "1"} + at(bar, (grip + end) / 2) +
                at(bar, end) + QStringList{"mouseup", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(serviceApp(m_daemon.port(), app)["uploadMax"].toInt() > 0, waitMS);
        QCOMPARE(serviceApp(m_daemon.port(), app)["downloadMax"].toInt(), -2);

        // Block it with its allow/block box, by keyboard.
        QVERIFY(row);
        click(row->findChild<QWidget*>("comboFirewall"));
        xdotool({"key", "--delay", "100", "Down", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(serviceApp(m_daemon.port(), app)["uploadMax"].toInt(), 0, waitMS);
        QCOMPARE(serviceApp(m_daemon.port(), app)["downloadMax"].toInt(), 0);

        // Application control off in the features panel: the view says so.
        click(window.featuresPanel()->findChild<QWidget*>("comboAppControlMode"));
        xdotool({"key", "--delay", "100", "Down", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (QLabel* label : window.mainPanel()->findChildren<QLabel*>()) {
                    if (label->isVisible() &&
                        label->text().startsWith("Application Control is currently Disabled."))
                        return true;
                }
                return false;
            }(),
            waitMS);
        QCOMPARE(window.visibleRowCount(), 0);
    }

    // The executable as a German user starts it (no --lang): the window and
    // its help speak German, F1 brings the module's help, Ctrl+Q closes it in
    // order, it exits with 0, and the terminal shows no chatter on the way.
    void executable()
    {
        QProcess host;
        host.setProcessEnvironment([&] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_CONFIG_HOME", m_folder.filePath("config"));
            env.remove("QT_LOGGING_RULES");
            env.remove("LC_ALL");
            env.remove("LC_MESSAGES");
            env.insert("LANG", "C.UTF-8");
            env.insert("LANGUAGE", "de");
            return env;
        }());
        host.start(SUITEHOST_PATH, {"--port", QString::number(m_daemon.port())});
        QVERIFY(host.waitForStarted());
        const QString window = xdotool({"search", "--sync", "--onlyvisible", "--name",
                                        "NetDeck Netzwerk-Suite - Anwendungen"});
        QVERIFY2(!window.isEmpty() && !window.contains(' '), qPrintable(window));
        xdotool({"windowfocus", "--sync", window.section('\n', 0, 0)});
        xdotool({"key", "F1"});
        QVERIFY(!xdotool({"search", "--sync", "--onlyvisible", "--name", "Hilfe - Applications"})
                     .isEmpty());
        xdotool({"windowfocus", "--sync", window.section('\n', 0, 0)});
        xdotool({"key", "ctrl+q"});
        QSignalSpy finished(&host, &QProcess::finished);
        QVERIFY(host.state() == QProcess::NotRunning || finished.wait(waitMS));
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.exitCode(), 0);
        const QString terminal = QString::fromLocal8Bit(host.readAllStandardError());
        for (const char* chatter : {"queue dump", "ServiceIO", "ThreadWrapper", "update!",
                                    "translation file", "mouseMoveEvent"})
            QVERIFY2(!terminal.contains(QLatin1String(chatter)), qPrintable(terminal));
    }

    void cleanupTestCase() { QCOMPARE(m_daemon.terminate(), 0); }
};

QTEST_MAIN(TestSuiteHostEndToEnd)
#include "tst_suitehost_e2e.moc"
