// The plug-in as a host meets it: a module file loaded by path, its two entry
// points resolved by name, the module object found through its meta-object.
// A transport server in this process stands in for the service and records
// what the module asks; it never answers.

#include "basecommand.h"
#include "hostapplication.h"
#include "hostsettings.h"
#include "iplugin.h"
#include "serviceio.h"
#include "serviceiofactory.h"

#include <QTcpServer>
#include <QtTest>
#include <QtWidgets>

#include <memory>

class TestModApplications : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QLibrary m_library{QStringLiteral(MODAPPLICATIONS_PATH)};
    QObject* (*m_instance)() = nullptr;
    std::unique_ptr<ServiceIO, void (*)(ServiceIO*)> m_server{nullptr,
                                                              [](ServiceIO* s) { s->Release(); }};
    QStringList m_requests;

    IPlugin* plugin() { return qobject_cast<IPlugin*>(m_instance()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        HostSettings::useSystemScopeFolder(m_folder.path());
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        qputenv("BWC_PORT", QByteArray::number(probe.serverPort()));
        probe.close();
        m_server.reset(CreateServiceIO(true, nullptr));
        QVERIFY(m_server);
        connect(m_server.get(), &ServiceIO::NewCommandReceived, this, [this](BaseCommandPtr cmd) {
            m_server->RetrieveCommand(&cmd);
            m_requests << QString::fromLatin1(cmd->GetName());
        });
        // The module picks its translation when it is constructed.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
        m_instance = reinterpret_cast<QObject* (*)()>(m_library.resolve("qt_plugin_instance"));
        QVERIFY(m_instance);
    }

    // One live instance at a time; a deleted one is replaced on the next call.
    void instance()
    {
        QPointer<QObject> first = m_instance();
        QVERIFY(first);
        QCOMPARE(m_instance(), first.data());
        QCOMPARE(first->qt_metacast("modApplications"), static_cast<void*>(first.data()));
        QVERIFY(first->qt_metacast("zad.aduzuridadevav.NetDeck.IPlugin/1.0"));
        QVERIFY(first->inherits("BasePlugin"));
        QVERIFY(!first->qt_metacast("ApplicationView"));
        delete first.data();
        QVERIFY(first.isNull());
        QVERIFY(m_instance());
        QVERIFY(plugin());
    }

    void panelsSupported_data()
    {
        QTest::addColumn<int>("panel");
        QTest::addColumn<bool>("supported");
        for (int panel : {-1, 0, 1, 2, 3})
            QTest::addRow("%d", panel) << panel << (panel >= 0 && panel <= 2);
    }
    void panelsSupported()
    {
        QFETCH(int, panel);
        QFETCH(bool, supported);
        // Through the meta-object, as a host that knows only the names would;
        // the answer starts out wrong, so only the call can make it right.
        bool answer = !supported;
        QVERIFY(QMetaObject::invokeMethod(m_instance(), "isPanelSupported",
                                          Q_RETURN_ARG(bool, answer), Q_ARG(int, panel)));
        QCOMPARE(answer, supported);
    }

    void info()
    {
        QIcon icon;
        QString name, description;
        QCOMPARE(plugin()->getInfo(icon, name, description), 0);
        QCOMPARE(name, "Anwendungen");
        QVERIFY(description.startsWith("Netzwerknutzung sichtbar machen"));
        QCOMPARE(icon.availableSizes(QIcon::Normal), QList<QSize>{QSize(24, 24)});
        QCOMPARE(icon.availableSizes(QIcon::Selected), QList<QSize>{QSize(24, 24)});
        QVERIFY(!icon.pixmap(24, QIcon::Selected).isNull());
        QCOMPARE(plugin()->getHelpFile(), "Applications.htm");
        QVERIFY(QFile::exists(QCoreApplication::applicationDirPath() + "/Applications.htm"));
        QVERIFY(m_instance()->metaObject()->indexOfSlot("OnServiceIsOnline(bool)") >= 0);
    }

    // The help page reads in a light and in a dark palette: every piece of
    // text stands out from what is behind it (contrast of at least 4.5:1).
    void helpReadable_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QPalette(QColor(0xef, 0xef, 0xef));
        QTest::newRow("dark") << QPalette(QColor(0x40, 0x40, 0x40), QColor(0x30, 0x30, 0x30));
    }
    void helpReadable()
    {
        QFETCH(QPalette, palette);
        QFile page(QCoreApplication::applicationDirPath() + "/Applications.htm");
        QVERIFY(page.open(QIODevice::ReadOnly));
        QTextBrowser browser;
        browser.setPalette(palette);
        browser.setHtml(QString::fromUtf8(page.readAll()));
        const auto luminance = [](const QColor& c) {
            const auto linear = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) +
                   0.0722 * linear(c.blueF());
        };
        int fragments = 0;
        for (QTextBlock block = browser.document()->begin(); block.isValid();
             block = block.next()) {
            const QBrush blockBack = block.blockFormat().background();
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                const QColor text = format.hasProperty(QTextFormat::ForegroundBrush)
                                        ? format.foreground().color()
                                        : palette.color(QPalette::Text);
                const QColor back =
                    format.hasProperty(QTextFormat::BackgroundBrush) ? format.background().color()
                    : blockBack.style() != Qt::NoBrush               ? blockBack.color()
                                                       : palette.color(QPalette::Base);
                const double l1 = luminance(text), l2 = luminance(back);
                const double contrast = (qMax(l1, l2) + 0.05) / (qMin(l1, l2) + 0.05);
                QVERIFY2(contrast >= 4.5, qPrintable(it.fragment().text().left(40)));
                ++fragments;
            }
        }
        QVERIFY(fragments > 20);
    }

    // init asks for the globals and defaults, a service coming online asks
    // again, one going away asks nothing; the panels speak German.
    void lifecycle()
    {
        HostApplication host;
        IPlugin* module = plugin();
        QCOMPARE(module->init(&host), 0);
        // A second init keeps the one settings object and listens once.
        QCOMPARE(module->init(&host), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_requests.size(), 2, 10000);
        host.setServiceOnline(true);
        host.setServiceOnline(false);
        std::unique_ptr<QWidget> features(module->getPanel(IPlugin::PanelFeatures));
        std::unique_ptr<QWidget> overview(module->getPanel(IPlugin::PanelOverview));
        QVERIFY(features && overview);
        QVERIFY(!features->parent() && !overview->parent());
        // A new default block rule marks the end of what the module sent.
        features->findChild<QComboBox*>("comboBlock")->setCurrentIndex(1);
        QTRY_VERIFY_WITH_TIMEOUT(m_requests.contains("BWCSetDefaults"), 10000);
        QCOMPARE(m_requests.mid(0, 5),
                 (QStringList{"BWCGetGlobals", "BWCGetDefaults", "BWCGetGlobals", "BWCGetDefaults",
                              "BWCSetDefaults"}));
        // The main view, which talks to the service through a client of its own.
        std::unique_ptr<QWidget> view(module->getPanel(IPlugin::PanelMain));
        QVERIFY(view && view->inherits("ApplicationView") && !view->parent());

        // The translation is complete (tst_translation); here each panel loads it.
        const std::tuple<QWidget*, const char*, QString> texts[] = {
            {features.get(), "buttonResetAll", "Anwendungsdaten zurücksetzen"},
            {overview.get(), "labelBWC", "Deaktiviert"},
            {view.get(), "checkBoxOfflineApps", "Nur laufende anzeigen"}};
        for (const auto& [panel, name, text] : texts) {
            QObject* child = panel->findChild<QObject*>(name);
            QVERIFY2(child, name);
            QCOMPARE(child->property("text").toString(), text);
        }
        QCOMPARE(features->findChild<QComboBox*>("comboAppControlMode")->itemText(1),
                 "Deaktiviert");

        view.reset();
        features.reset();
        overview.reset();
        QCOMPARE(module->destroy(), 0);
        // Without the settings object no panel can be made.
        QVERIFY(!module->getPanel(IPlugin::PanelFeatures));
        delete m_instance();
    }
};

QTEST_MAIN(TestModApplications)
#include "tst_modapplications.moc"
