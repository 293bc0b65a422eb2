#include "baseplugin.h"

#include <QLabel>
#include <QTest>

namespace {

// A module that offers its three panels, as the plug-in modules do.
class PanelPlugin : public BasePlugin
{
    Q_OBJECT
public:
    PanelPlugin() : BasePlugin(30, 1) {}
    QWidget* createMainPanel() override { return new QLabel("main"); }
    QWidget* createFeaturesPanel() override { return new QLabel("features"); }
    QWidget* createOverviewPanel() override { return new QLabel("overview"); }
};

} // namespace

class TestBasePlugin : public QObject
{
    Q_OBJECT
private slots:
    void getPanelMapsNumbers_data()
    {
        QTest::addColumn<int>("panel");
        QTest::addColumn<QString>("name");
        QTest::newRow("main") << 0 << "main";
        QTest::newRow("features") << 1 << "features";
        QTest::newRow("overview") << 2 << "overview";
        QTest::newRow("3") << 3 << QString();
        QTest::newRow("-1") << -1 << QString();
    }
    void getPanelMapsNumbers()
    {
        QFETCH(int, panel);
        QFETCH(QString, name);
        PanelPlugin plugin;
        // The host finds the interface through the identifier, which the base answers.
        QVERIFY(plugin.qt_metacast(BWC_IPLUGIN_IID));
        QScopedPointer<QWidget> widget(plugin.getPanel(panel));
        QCOMPARE(widget ? qobject_cast<QLabel*>(widget.data())->text() : QString(), name);
        if (widget)
            QVERIFY(!widget->parent()); // handed to the host without a parent
    }

    // A host that knows a module only through its meta-object finds every
    // operation by name, in the interface's order.
    void operationsAreSlotsInOrder()
    {
        const QMetaObject& meta = IPlugin::staticMetaObject;
        QStringList names;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
            names << QString::fromLatin1(meta.method(i).methodSignature());
        const QStringList expected = {"init(IApplication*)",
                                      "destroy()",
                                      "getPanel(int)",
                                      "isPanelSupported(int)",
                                      "getInfo(QIcon&,QString&,QString&)",
                                      "getPriority()",
                                      "reset()",
                                      "isChanged()",
                                      "apply()",
                                      "getVersion()",
                                      "getHelpFile()",
                                      "createMainPanel()",
                                      "createFeaturesPanel()",
                                      "createOverviewPanel()",
                                      "createLCDPanel()",
                                      "threadUpdate()"};
        QCOMPARE(names, expected);
        PanelPlugin plugin;
        int version = 0;
        QVERIFY(QMetaObject::invokeMethod(&plugin, "getVersion", Q_RETURN_ARG(int, version)));
        QCOMPARE(version, 1);
    }
};

QTEST_MAIN(TestBasePlugin)
#include "tst_baseplugin.moc"
