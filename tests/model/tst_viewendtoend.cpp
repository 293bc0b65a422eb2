// The main view against a bwcd child process: every application the service
// enumerates becomes a row, live rates arrive, and a block set in the view is
// what the service then reports.

#include "applicationsettings.h"
#include "applicationview.h"
#include "bandwidthbar.h"
#include "bwccommands.h"
#include "daemonprocess.h"
#include "datasource.h"
#include "hostapplication.h"
#include "hostsettings.h"
#include "serviceclient.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

class TestViewEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    DaemonProcess m_daemon;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HostSettings::useSystemScopeFolder(m_dir.path());
        QVERIFY(m_daemon.start(m_dir.filePath("state.json"), {"--apps", "40", "--seed", "3"}));
        qputenv("BWC_PORT", QByteArray::number(m_daemon.port()));
    }
    void cleanupTestCase() { QCOMPARE(m_daemon.terminate(), 0); }
    void init() { QTest::failOnWarning(QRegularExpression(u"Recursive repaint"_s)); }

    void viewFollowsTheService()
    {
        ServiceClient client;
        QVERIFY(client.connectTo(m_daemon.port()));
        auto* apps = client.ask(new BCI_BWCEnumApps);
        QVERIFY(apps);
        QSet<QString> paths;
        for (const BWCEntryPtr& entry : apps->apps())
            paths.insert(entry->path);
        QVERIFY(paths.size() > 10);

        HostApplication host;
        ApplicationSettings settings;
        ApplicationView view(&settings, &host);
        view.resize(727, 572);
        view.show();
        // One row per program at least: instances of one program that start
        // later get rows of their own.
        const ApplicationList& list = view.applications();
        QTRY_VERIFY_WITH_TIMEOUT(list.count() >= paths.size(), 20000);
        QSet<QString> shown;
        for (int i = 0; i < list.count(); ++i)
            shown.insert(list.at(i)->process().filePath);
        QCOMPARE(shown, paths);

        const auto uploading = [&] {
            for (int i = 0; i < list.count(); ++i) {
                if (list.at(i)->uploadBar()->current() > 0)
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(uploading(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            host.getDataSource("System.Network.Total.BandwidthRx")->getValue(-1, -1).toUInt() > 0,
            10000);

        // Block the first program that is not at the highest priority.
        AppPtr target;
        for (int i = 0; i < list.count() && !target; ++i) {
            if (list.at(i)->priority() != 0 && !list.at(i)->isBlocked())
                target = list.at(i);
        }
        QVERIFY(target);
        const QString id = target->entryKey();
        QTest::mouseClick(target.data(), Qt::LeftButton, {}, QPoint(5, 5));
        target->findChild<QComboBox*>("comboFirewall")->setCurrentIndex(1);
        const auto blockedAtService = [&] {
            auto* now = client.ask(new BCI_BWCEnumApps);
            for (const BWCEntryPtr& entry : now ? now->apps() : QList<BWCEntryPtr>()) {
                if (entry->id == id)
                    return entry->uploadMax == 0 && entry->downloadMax == 0;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(blockedAtService(), 10000);
    }
};

QTEST_MAIN(TestViewEndToEnd)
#include "tst_viewendtoend.moc"
