#include "baseplugin.h"
#include "hostapplication.h"

#include <QIcon>
#include <QLabel>
#include <QTest>

namespace {

// A module that offers its three panels, as the plug-in modules do.
class PanelPlugin : public BasePlugin
{
    Q_OBJECT
public:
    PanelPlugin() : BasePlugin(30, 1) {}
    bool isPanelSupported(int nPanel) override { return nPanel >= 0 && nPanel <= 2; }
    QWidget* createMainPanel() override { return panel("main"); }
    QWidget* createFeaturesPanel() override { return panel("features"); }
    QWidget* createOverviewPanel() override { return panel("overview"); }

private:
    static QWidget* panel(const char* name)
    {
        auto* label = new QLabel;
        label->setObjectName(QLatin1String(name));
        return label;
    }
};

} // namespace

class TestBasePlugin : public QObject
{
    Q_OBJECT
private slots:
    void getPanelMapsNumbers_data();
    void getPanelMapsNumbers();
    void metacastChainsToTheBase();
    void initKeepsTheHost();
    void defaults();
};

void TestBasePlugin::getPanelMapsNumbers_data()
{
    QTest::addColumn<int>("panel");
    QTest::addColumn<QString>("name");
    QTest::newRow("main") << 0 << "main";
    QTest::newRow("features") << 1 << "features";
    QTest::newRow("overview") << 2 << "overview";
    QTest::newRow("3") << 3 << QString();
    QTest::newRow("-1") << -1 << QString();
}

void TestBasePlugin::getPanelMapsNumbers()
{
    QFETCH(int, panel);
    QFETCH(QString, name);
    PanelPlugin plugin;
    QScopedPointer<QWidget> widget(plugin.getPanel(panel));
    QCOMPARE(widget ? widget->objectName() : QString(), name);
    if (widget)
        QVERIFY(!widget->parent()); // handed to the host without a parent
}

void TestBasePlugin::metacastChainsToTheBase()
{
    PanelPlugin plugin;
    QObject* object = &plugin;
    IPlugin* viaIid = qobject_cast<IPlugin*>(object);
    QCOMPARE(viaIid, static_cast<IPlugin*>(&plugin));
    QCOMPARE(plugin.qt_metacast("zad.aduzuridadevav.NetDeck.IPlugin/1.0"),
             static_cast<void*>(static_cast<IPlugin*>(&plugin)));
    QVERIFY(plugin.qt_metacast("BasePlugin"));
    QVERIFY(plugin.qt_metacast("IPlugin"));
    QVERIFY(!plugin.qt_metacast("SomethingElse"));
    QVERIFY(object->inherits("BasePlugin"));

    QObject plain;
    QVERIFY(!qobject_cast<IPlugin*>(&plain));
}

void TestBasePlugin::initKeepsTheHost()
{
    HostApplication host;
    PanelPlugin plugin;
    QVERIFY(!plugin.application());
    QCOMPARE(plugin.init(&host), 0);
    QCOMPARE(plugin.application(), static_cast<IApplication*>(&host));
    QCOMPARE(plugin.destroy(), 0);
    QVERIFY(!plugin.application());
}

void TestBasePlugin::defaults()
{
    PanelPlugin plugin;
    BasePlugin& base = plugin;
    QCOMPARE(base.getPriority(), 30);
    QCOMPARE(base.getVersion(), 1);
    QVERIFY(base.getHelpFile().isEmpty());
    QVERIFY(!base.createLCDPanel());
    QVERIFY(!base.BasePlugin::isPanelSupported(0));

    QIcon icon;
    QString name;
    QString description = QStringLiteral("stale");
    QCOMPARE(base.getInfo(icon, name, description), 0);
    QCOMPARE(name, QStringLiteral("PanelPlugin"));
    QVERIFY(description.isEmpty());
}

QTEST_MAIN(TestBasePlugin)
#include "tst_baseplugin.moc"
