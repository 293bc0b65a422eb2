// The features and overview panels against the settings object and a real
// bwcd: what the user changes must reach the service, and what the settings
// object and the host's sources report must show.

#include "applicationsettings.h"
#include "bwccommands.h"
#include "daemonprocess.h"
#include "datasource.h"
#include "featurespanel.h"
#include "hostapplication.h"
#include "hostsettings.h"
#include "overviewpanel.h"
#include "serviceclient.h"
#include "stripchart.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {

constexpr int waitMS = 30000; // generous: the machine may be busy

// Answers every question box that opens with the button reading `answer`
// (Escape when empty), and counts them.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(const QString& answer) : m_answer(answer) { startTimer(20); }
    int count = 0;
    QString title, text;

protected:
    void timerEvent(QTimerEvent*) override
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == m_last)
            return;
        m_last = box;
        ++count;
        title = box->windowTitle();
        text = box->text();
        if (m_answer.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == m_answer)
                button->click();
        }
    }

private:
    QString m_answer;
    QPointer<QMessageBox> m_last;
};

} // namespace

class TestPanels : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    DaemonProcess m_daemon;
    ServiceClient m_service; // reads back what the service holds
    HostApplication m_host;
    std::unique_ptr<ApplicationSettings> m_settings;
    std::unique_ptr<FeaturesPanel> m_features;
    std::unique_ptr<OverviewPanel> m_overview;

    template <class T> T* features(const char* name)
    {
        return m_features->findChild<T*>(QLatin1String(name));
    }
    QString overviewText(const char* name)
    {
        return m_overview->findChild<QLabel*>(QLatin1String(name))->text();
    }
    BCI_BWCGetDefaults* serviceDefaults() { return m_service.ask(new BCI_BWCGetDefaults); }
    bool serviceEnabled() { return m_service.ask(new BCI_BWCGetGlobals)->enabled(); }
    // A round trip through the settings object's own client: once the
    // defaults it asks for are back, everything it sent has reached the
    // service and everything the service said before has been handled.
    void sync()
    {
        QSignalSpy fetched(m_settings.get(), &ApplicationSettings::newDefaultLanException);
        m_settings->requestGlobalsAndDefaults();
        QVERIFY(fetched.wait(waitMS));
    }
    // Sets the service's defaults behind the settings object's back, then lets
    // the settings object fetch them.
    void setServiceDefaults(qint32 up, qint32 down, qint32 priority, qint32 lan)
    {
        sync();
        auto* set = new BCI_BWCSetDefaults;
        set->setDefaultUploadMax(up);
        set->setDefaultDownloadMax(down);
        set->setDefaultPriority(priority);
        set->setLanException(lan);
        QCOMPARE(m_service.ask(set)->GetStatus(), int(BCS_SUCCESS));
        QSignalSpy fetched(m_settings.get(), &ApplicationSettings::newDefaultLanException);
        m_settings->requestGlobalsAndDefaults();
        QVERIFY(fetched.wait(waitMS));
        QCOMPARE(m_settings->defaultPriority(), quint32(priority));
        QCOMPARE(m_settings->defaultLanException(), bool(lan));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        HostSettings::useSystemScopeFolder(m_folder.path());
        QVERIFY2(m_daemon.start(m_folder.filePath("state.json")),
                 qPrintable(m_daemon.errorOutput()));
        qputenv("BWC_PORT", QByteArray::number(m_daemon.port()));
        QVERIFY(m_service.connectTo(m_daemon.port()));

        m_settings = std::make_unique<ApplicationSettings>();
        QSignalSpy answered(m_settings.get(), &ApplicationSettings::newDefaultLanException);
        m_features = std::make_unique<FeaturesPanel>(m_settings.get(), &m_host);
        m_overview = std::make_unique<OverviewPanel>(m_settings.get(), &m_host);
        QVERIFY(answered.wait(waitMS));
        QVERIFY(m_settings->isBWCEnabled());
        m_features->show();
        m_overview->show();
    }

    // Switching application control off disables the defaults and the reset
    // button, and the service stops; on again, everything comes back.
    void controlModeSwitch()
    {
        auto* mode = features<QComboBox>("comboAppControlMode");
        const QList<QWidget*> defaults = {features<QWidget>("buttonResetAll"),
                                          features<QWidget>("comboBlock"),
                                          features<QWidget>("comboType")};
        for (bool on : {false, true}) {
            mode->setCurrentIndex(on ? 0 : 1);
            for (QWidget* control : defaults)
                QCOMPARE(control->isEnabled(), on);
            QTRY_COMPARE_WITH_TIMEOUT(serviceEnabled(), on, waitMS);
        }
        sync(); // the service's announcements of both switches are in
        QVERIFY(m_settings->isBWCEnabled());
    }

    void resetConfirmation_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("reset");
        QTest::newRow("no") << "No" << false;
        QTest::newRow("escape") << QString() << false;
        QTest::newRow("yes") << "Yes" << true;
    }
    void resetConfirmation()
    {
        QFETCH(QString, answer);
        QFETCH(bool, reset);
        // A default block rule that a reset would undo.
        sync();
        features<QComboBox>("comboBlock")->setCurrentIndex(1);
        QTRY_COMPARE_WITH_TIMEOUT(serviceDefaults()->defaultUploadMax(), 0, waitMS);
        QSignalSpy resets(m_settings.get(), &ApplicationSettings::doResetAll);
        QSignalSpy fetched(m_settings.get(), &ApplicationSettings::newDefaultLanException);

        BoxAnswerer answerer(answer);
        features<QPushButton>("buttonResetAll")->click();
        QCOMPARE(answerer.count, 1); // one question per click
        QCOMPARE(answerer.title, "Reset");
        QCOMPARE(answerer.text, "Do you wish to reset all of your Applications settings?");
        QCOMPARE(resets.size(), reset ? 1 : 0);
        if (reset) {
            // After the reset the settings object fetches the defaults again.
            QVERIFY(fetched.wait(waitMS));
            QCOMPARE(serviceDefaults()->defaultUploadMax(), -1);
        } else
            QCOMPARE(serviceDefaults()->defaultUploadMax(), 0);
        features<QComboBox>("comboBlock")->setCurrentIndex(0);
    }

    // Item i of the priority box is priority i + 1, both ways.
    void defaultPriority_data()
    {
        QTest::addColumn<int>("priority");
        QTest::addColumn<QString>("text");
        QTest::newRow("high") << 1 << "2- High";
        QTest::newRow("normal") << 2 << "3 - Normal";
        QTest::newRow("low") << 3 << "4 - Low";
    }
    void defaultPriority()
    {
        QFETCH(int, priority);
        QFETCH(QString, text);
        auto* type = features<QComboBox>("comboType");
        setServiceDefaults(-1, -1, priority, 0);
        QCOMPARE(type->currentText(), text);

        const int other = (type->currentIndex() + 1) % 3;
        type->setCurrentIndex(other);
        QTRY_COMPARE_WITH_TIMEOUT(serviceDefaults()->defaultPriority(), other + 1, waitMS);
    }

    // The host's LAN-exceptions value becomes the default; the settings
    // object's answer goes back to the source only when it differs, or when
    // the source never had a value.
    void lanExceptions()
    {
        setServiceDefaults(-1, -1, 2, 0);
        DataSourceHandle source = m_host.getDataSource("System.Network.LanExceptions");
        QSignalSpy published(source.get(), &DataSource::newData);
        source->publish(true);
        QTRY_COMPARE_WITH_TIMEOUT(serviceDefaults()->lanException(), 1, waitMS);
        QVERIFY(m_settings->defaultLanException());
        QCOMPARE(overviewText("labelExceptions"), "Enabled");

        HostApplication freshHost; // a source without a sample
        FeaturesPanel freshPanel(m_settings.get(), &freshHost);
        DataSourceHandle fresh = freshHost.getDataSource("System.Network.LanExceptions");
        QSignalSpy freshPublished(fresh.get(), &DataSource::newData);
        QSignalSpy announced(m_settings.get(), &ApplicationSettings::newDefaultLanException);
        m_settings->requestGlobalsAndDefaults();
        QVERIFY(announced.wait(waitMS));
        QCOMPARE(published.size(), 1); // only the host's own
        QCOMPARE(freshPublished.size(), 1);
        QCOMPARE(fresh->getValue(-1, -1).toBool(), true);

        // The service's value wins over a source that says otherwise.
        setServiceDefaults(-1, -1, 2, 0);
        QCOMPARE(published.size(), 2);
        QCOMPARE(source->getValue(-1, -1).toBool(), false);
    }

    void status_data()
    {
        QTest::addColumn<bool>("control");
        QTest::addColumn<bool>("lan");
        QTest::addColumn<bool>("gather");
        QTest::addColumn<QString>("controlText");
        QTest::addColumn<QString>("lanText");
        QTest::addColumn<bool>("chart");
        QTest::newRow("off") << false << true << true << "Disabled"
                             << "Disabled" << false;
        QTest::newRow("on") << true << true << true << "Enabled"
                            << "Enabled" << true;
        QTest::newRow("on, no LAN") << true << false << true << "Enabled"
                                    << "Disabled" << true;
        QTest::newRow("on, no stats") << true << true << false << "Enabled"
                                      << "Enabled" << false;
    }
    void status()
    {
        QFETCH(bool, control);
        QFETCH(bool, lan);
        QFETCH(bool, gather);
        m_overview->hide();
        HostSettings::create(this)->setValue("GatherPerfStats", gather);
        m_settings->setBWCEnable(control);
        m_settings->setDefaultLanException(lan);
        m_overview->show();
        QTEST(overviewText("labelBWC"), "controlText");
        QTEST(overviewText("labelExceptions"), "lanText");
        for (const char* part : {"groupBox", "widget", "widget_3", "label_2"})
            QTEST(!m_overview->findChild<QWidget*>(part)->isHidden(), "chart");
        QVERIFY(!m_overview->findChild<QWidget*>("labelActive")->isHidden());
    }

    void counts()
    {
        m_settings->updateActiveCount(12);
        m_settings->updateInactiveCount(3);
        QCOMPARE(overviewText("labelActive"), "12");
        QCOMPARE(overviewText("labelInactive"), "3");
    }

    // The scale's top is the larger maximum, its middle half of it, in the
    // host's unit; below one unit the labels show three decimals without the 0.
    void scale_data()
    {
        QTest::addColumn<uint>("up");
        QTest::addColumn<uint>("down");
        QTest::addColumn<uint>("unit");
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("middle");
        QTest::addColumn<QString>("unitText");
        QTest::addColumn<double>("range");
        // The host's chart makes an empty range one unit high.
        QTest::newRow("zero") << 0u << 0u << 1u << ".000"
                              << ".000"
                              << "Mbps" << 1.0;
        QTest::newRow("100 bps in MBps") << 100u << 0u << 0u << ".000"
                                         << ".000"
                                         << "MBps" << 100.0;
        QTest::newRow("fractions") << 0u << 2000000u << 0u << ".250"
                                   << ".125"
                                   << "MBps" << 2e6;
        QTest::newRow("larger wins") << 1000000u << 14000000u << 1u << "14"
                                     << "7"
                                     << "Mbps" << 14e6;
        QTest::newRow("no limit ignored") << 0xFFFFFFFFu << 8000u << 3u << "8"
                                          << "4"
                                          << "Kbps" << 8e3;
        // Compared as signed numbers, two "no limit" maxima are the top; it
        // reads as "%d" prints it.
        QTest::newRow("both without limit") << 0xFFFFFFFFu << 0xFFFFFFFFu << 1u << "-1"
                                            << "2147"
                                            << "Mbps" << 4294967295.0;
    }
    void scale()
    {
        QFETCH(uint, up);
        QFETCH(uint, down);
        QFETCH(uint, unit);
        m_host.getDataSource("System.Network.BWCUploadMax")->publish(up);
        m_host.getDataSource("System.Network.BWCDownloadMax")->publish(down);
        m_host.getDataSource("Application.BandwidthUnit")->publish(unit);
        QTEST(overviewText("labelMax"), "top");
        QTEST(overviewText("labelMed"), "middle");
        QTEST(overviewText("labelUnit"), "unitText");
        QTEST(m_overview->findChild<StripChart*>()->rangeHigh(), "range");
    }

    // A panel's first view: the features panel shows the form's first items
    // until the settings object announces its values; the overview's scale
    // starts at 0, in unit 0 while the unit source has no value, and follows
    // the maxima published after it.
    void firstView()
    {
        setServiceDefaults(-1, -1, 3, 0);
        m_settings->setDefaultBlock(true);
        QTRY_COMPARE_WITH_TIMEOUT(serviceDefaults()->defaultUploadMax(), 0, waitMS);
        HostApplication freshHost;
        freshHost.getDataSource("System.Network.BWCUploadMax")->publish(14000000u);
        freshHost.getDataSource("System.Network.BWCDownloadMax")->publish(2000000u);
        freshHost.getDataSource("Application.BandwidthUnit")->publish(QVariant());
        FeaturesPanel features(m_settings.get(), &freshHost);
        OverviewPanel overview(m_settings.get(), &freshHost);
        const auto text = [&](const char* name) {
            return overview.findChild<QLabel*>(QLatin1String(name))->text();
        };
        const auto current = [&](const char* name) {
            return features.findChild<QComboBox*>(QLatin1String(name))->currentText();
        };
        QCOMPARE(QStringList({current("comboType"), current("comboBlock")}),
                 QStringList({"2- High", "Allow"}));
        QCOMPARE(QStringList({text("labelMax"), text("labelMed"), text("labelUnit")}),
                 QStringList({".000", ".000", "MBps"}));
        sync();
        QCOMPARE(QStringList({current("comboType"), current("comboBlock")}),
                 QStringList({"4 - Low", "Block"}));
        freshHost.getDataSource("System.Network.BWCUploadMax")->publish(16000000u);
        QCOMPARE(QStringList({text("labelMax"), text("labelMed")}), QStringList({"2", "1"}));
        m_settings->setDefaultBlock(false);
        setServiceDefaults(-1, -1, 2, 0);
    }

    void cleanupTestCase()
    {
        m_features.reset();
        m_overview.reset();
        m_settings.reset();
        QCOMPARE(m_daemon.terminate(), 0);
    }
};

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
