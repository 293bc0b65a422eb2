// The host window's parts: its command line, the module loader's checks, and
// the window with the real module against bwcd: the service's state and
// maxima, the unit chooser, the LAN-exceptions switch and the shutdown (F1
// is pressed on the executable, under Xvfb).

#include "daemonprocess.h"
#include "datasource.h"
#include "hostapplication.h"
#include "hostsettings.h"
#include "iplugin.h"
#include "pluginloader.h"
#include "servicemonitor.h"
#include "suitehostoptions.h"
#include "suitewindow.h"

#include <QtTest>
#include <QtWidgets>

class TestSuiteHost : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        HostSettings::useSystemScopeFolder(m_folder.path());
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("port");
        QTest::newRow("none") << QStringList{} << true << 0;
        QTest::newRow("all") << QStringList{"--plugin", "m.so", "--port",       "8000",
                                            "--lang",   "de",   "--screenshot", "s.png"}
                             << true << 8000;
        QTest::newRow("port 0") << QStringList{"--port", "0"} << false << 0;
        QTest::newRow("port word") << QStringList{"--port", "x"} << false << 0;
        QTest::newRow("port too big") << QStringList{"--port", "65536"} << false << 0;
        QTest::newRow("unknown language") << QStringList{"--lang", "qq"} << false << 0;
        QTest::newRow("stray argument") << QStringList{"extra"} << false << 0;
        QTest::newRow("unknown option") << QStringList{"--fast"} << false << 0;
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        SuiteHostOptions options;
        QString error;
        QTEST(options.parse(QStringList{"suitehost"} + arguments, &error), "ok");
        QTEST(int(options.port), "port");
        QCOMPARE(error.isEmpty(), QTest::currentDataTag() == QByteArray("none") ||
                                      QTest::currentDataTag() == QByteArray("all"));
        // Paths are made absolute before the host changes its folder.
        if (arguments.contains("m.so")) {
            QCOMPARE(options.pluginPath, QDir::current().absoluteFilePath("m.so"));
            QCOMPARE(options.screenshotPath, QDir::current().absoluteFilePath("s.png"));
        }
    }

    void loader_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        QTest::newRow("module") << MODAPPLICATIONS_PATH << QString();
        QTest::newRow("not a module") << BWCHOST_PATH << "entry points missing";
        QTest::newRow("missing") << "/nonexistent/libnothing.so"
                                 << "libnothing";
    }
    void loader()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        PluginLoader loader;
        IPlugin* plugin = loader.load(path);
        QCOMPARE(plugin != nullptr, error.isEmpty());
        QVERIFY2(loader.errorString().contains(error), qPrintable(loader.errorString()));
        delete plugin;
    }

    void windowAgainstService()
    {
        DaemonProcess daemon;
        QVERIFY(daemon.start(m_folder.filePath("state.json")));
        qputenv("BWC_PORT", QByteArray::number(daemon.port()));
        HostApplication host;
        ServiceMonitor monitor(&host);
        QTRY_VERIFY_WITH_TIMEOUT(host.isServiceOnline(), 10000);
        // The factory maxima, 1250000 and 6250000 bytes per second, in bits.
        QCOMPARE(host.getDataSource("System.Network.BWCUploadMax")->getValue(-1, -1).toUInt(),
                 10000000u);
        QCOMPARE(host.getDataSource("System.Network.BWCDownloadMax")->getValue(-1, -1).toUInt(),
                 50000000u);

        PluginLoader loader;
        QPointer<QObject> module = dynamic_cast<QObject*>(loader.load(MODAPPLICATIONS_PATH));
        QVERIFY(module);
        auto* window = new SuiteWindow(qobject_cast<IPlugin*>(module), &host);
        window->show();
        QPointer<QWidget> features = window->featuresPanel(), overview = window->overviewPanel();
        QVERIFY(features && overview);
        QCOMPARE(features->objectName(), "FeaturesPanelClass");
        auto overviewText = [&](const char* name) {
            return overview->findChild<QLabel*>(name)->text();
        };

        // The stored unit, then the chooser's.
        DataSourceHandle unit = host.getDataSource("Application.BandwidthUnit");
        QCOMPARE(unit->getValue(-1, -1).toUInt(), 3u);
        QCOMPARE(overviewText("labelUnit"), "Kbps");
        window->findChild<QMenu*>("unitMenu")->actions().at(0)->trigger();
        QCOMPARE(unit->getValue(-1, -1).toUInt(), 0u);
        QCOMPARE(overviewText("labelUnit"), "MBps");

        // The LAN-exceptions switch reaches the module's defaults.
        QTRY_COMPARE_WITH_TIMEOUT(overviewText("labelBWC"), "Enabled", 10000);
        window->findChild<QAction*>("lanExceptionsAction")->setChecked(true);
        QCOMPARE(overviewText("labelExceptions"), "Enabled");

        window->close();
        QVERIFY(!features && !overview && !module);
        delete window;

        QCOMPARE(daemon.terminate(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!host.isServiceOnline(), 10000);
    }
};

QTEST_MAIN(TestSuiteHost)
#include "tst_suitehost.moc"
