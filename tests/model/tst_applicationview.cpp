// The main view against the project's own server, scripted as the service
// answers: rows from enumeration and process descriptions, statistics,
// broadcasts, reloads, sorting and filtering, and the user's actions reaching
// the service once per row.

#include "applicationsettings.h"
#include "applicationview.h"
#include "bandwidthbar.h"
#include "bwccommands.h"
#include "datasource.h"
#include "hostapplication.h"
#include "hostsettings.h"
#include "scriptedservice.h"
#include "stripchart.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The service's globals in bits per second: 100000 and 500000 bytes per second.
constexpr quint32 globalUp = 800000;
constexpr quint32 globalDown = 4000000;

QString describe(const AppPtr& row)
{
    return u"%1 p%2%3%4%5 %6/%7"_s.arg(row->name())
        .arg(row->priority())
        .arg(row->isBlocked() ? " blocked" : "")
        .arg(row->isOffline() ? " offline" : "")
        .arg(row->isVisible() ? "" : " hidden")
        .arg(row->uploadBar()->limit())
        .arg(row->downloadBar()->limit());
}

} // namespace

class TestApplicationView : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    std::unique_ptr<ScriptedService> m_service;
    std::unique_ptr<HostApplication> m_host;
    std::unique_ptr<ApplicationSettings> m_settings;
    std::unique_ptr<ApplicationView> m_view;

    const ApplicationList& list() const { return m_view->applications(); }
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < list().count(); ++i)
            out << describe(list().at(i));
        return out;
    }
    // The view on a freshly answered settings object, shown, with `count`
    // rows from one enumeration and then one row for each of `added`.
    bool start(int count, const QList<BWCEntryPtr>& added = {})
    {
        m_service->enumerationsAnswered = 1;
        m_settings = std::make_unique<ApplicationSettings>();
        if (!QTest::qWaitFor([&] { return m_settings->globalDL() == globalDown; },
                             ScriptedService::WaitMS))
            return false;
        m_view = std::make_unique<ApplicationView>(m_settings.get(), m_host.get());
        m_view->resize(727, 572);
        m_view->show();
        if (!QTest::qWaitFor([&] { return list().count() == count; }, ScriptedService::WaitMS))
            return false;
        for (const BWCEntryPtr& entry : added) {
            m_service->appAdded(entry);
            ++count;
            if (!QTest::qWaitFor([&] { return list().count() == count; }, ScriptedService::WaitMS))
                return false;
        }
        return true;
    }
    AppPtr row(const QString& name) const
    {
        for (int i = 0; i < list().count(); ++i) {
            if (list().at(i)->name() == name)
                return list().at(i);
        }
        return AppPtr();
    }
    QList<BWCEntryPtr> sentEntries(const char* name, qsizetype from = 0) const
    {
        QList<BWCEntryPtr> out;
        const QList<BaseCommandPtr> sent = m_service->requested(name);
        for (qsizetype i = from; i < sent.size(); ++i) {
            if (auto* set = command_cast<BCI_BWCSetAppSettings>(sent.at(i)))
                out << set->entry();
            else if (auto* removed = command_cast<BCI_BWCRemoveAppSettings>(sent.at(i)))
                out << removed->entry();
        }
        return out;
    }
    // Two instances of one browser (the second reported as it starts: one
    // enumeration gives one row per program), a mail program and a stopped
    // editor, in this order.
    bool startBrowsers()
    {
        m_service->addApp("Browser", ScriptedService::entry("b1", "C:\\bin\\browser.exe"));
        m_service->addApp("Mail", ScriptedService::entry("m1", "C:\\bin\\mail.exe"));
        m_service->addApp("Editor", ScriptedService::entry("e1", "C:\\bin\\edit.exe", 0));
        return start(3, {ScriptedService::entry("b2", "C:\\bin\\browser.exe")});
    }
    // Waits for a request the view sends after everything it has sent so far.
    void flush()
    {
        const qsizetype polls = m_service->requested("BWCStats").size();
        QTRY_VERIFY(m_service->requested("BWCStats").size() > polls);
    }
    void select(const AppPtr& row)
    {
        QTest::mouseClick(row.data(), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(row->uploadBar()->hasMouseTracking()); // laid out as selected
    }
    // Closes the next modal box or dialog, noting its title and text.
    void closeNextModal(QStringList* seen, const char* button = nullptr)
    {
        QTimer::singleShot(50, this, [=] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                closeNextModal(seen, button);
                return;
            }
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                *seen << box->windowTitle() + ": " + box->text();
            if (button)
                modal->findChild<QAbstractButton*>(button)->click();
            else
                modal->close();
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        HostSettings::useSystemScopeFolder(m_folder.path());
    }
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u"Recursive repaint|No matching signal"_s));
        std::unique_ptr<QSettings> stored(HostSettings::create());
        stored->clear();
        stored->setValue("Applications/StatSampleRate", 200);
        m_service = std::make_unique<ScriptedService>();
        QVERIFY(m_service->isListening());
        m_host = std::make_unique<HostApplication>();
    }
    void cleanup()
    {
        m_view.reset();
        m_settings.reset();
        m_service.reset();
        m_host.reset();
    }

    void rowsFromEntries()
    {
        m_service->defaultUp = 0; // blocked uploads by default
        m_service->defaultPriority = 3;
        using S = ScriptedService;
        m_service->addApp("App10", S::entry("a", "C:\\a.exe", 1, -1, -1, 2));
        m_service->addApp("app2", S::entry("b", "C:\\b.exe", 1, -2, -2, 1));
        m_service->addApp("App1", S::entry("c", "C:\\c.exe", 1, 1000, 200000, 3, true));
        // A limit below one pixel of the bar shows as the bar's least rate.
        m_service->addApp("Default", S::entry("d", "C:\\d.exe", 1, 1000, 10, -2));
        m_service->addApp("Stopped", S::entry("e", "C:\\e.exe", 0, 1000, 0));
        m_service->addApp("", S::entry("f", "C:\\tools\\Nameless.exe", 1, 100000000, 100000));
        m_service->addApp("Gone", S::entry("g", "C:\\g.exe"));
        m_service->processes.remove("C:\\g.exe"); // no description: no row
        QVERIFY(start(6));
        // Natural order; highest priority means no limits; caps above the
        // global maximum show as the maximum; -2 takes the defaults 0/-1.
        QCOMPARE(rows(), QStringList({
                             u"App1 p0 %1/%2"_s.arg(globalUp).arg(globalDown),
                             u"app2 p1 blocked %1/%2"_s.arg(globalUp).arg(globalDown),
                             u"App10 p2 %1/%2"_s.arg(globalUp).arg(globalDown),
                             u"Default p3 8000/8"_s,
                             u"Nameless.exe p2 %1/800000"_s.arg(globalUp),
                             u"Stopped p2 blocked offline %1/%2"_s.arg(globalUp).arg(globalDown),
                         }));
        QCOMPARE(m_service->requested("GetProcessInfo").size(), 7);
        QVERIFY(m_service->requested("BWCSetAppSettings").isEmpty());
    }

    void statisticsSumByName()
    {
        using S = ScriptedService;
        m_service->stats = {S::stat("b1", 100, 200), S::stat("nobody", 5, 5), S::stat("b2", 10, 20),
                            S::stat("m1", 1, 2), S::stat("", 1000, 2000, true)};
        QVERIFY(startBrowsers());
        QTRY_COMPARE(row("Mail")->uploadBar()->current(), 8u);
        // Both browser rows may still be arriving when the first reply lands.
        for (int i = 0; i < 2; ++i) {
            QTRY_COMPARE(list().at(i)->uploadBar()->current(), 110u * 8);
            QCOMPARE(list().at(i)->downloadBar()->current(), 220u * 8);
        }
        QCOMPARE(row("Mail")->downloadBar()->current(), 16u);
        DataSourceHandle rx = m_host->getDataSource("System.Network.Total.BandwidthRx");
        DataSourceHandle tx = m_host->getDataSource("System.Network.Total.BandwidthTx");
        QCOMPARE(rx->getValue(-1, -1).toUInt(), 2000u);
        QCOMPARE(tx->getValue(-1, -1).toUInt(), 1000u);
    }

    void removalBroadcasts_data()
    {
        QTest::addColumn<int>("instances");
        QTest::addColumn<bool>("runningOnly");
        QTest::addColumn<QStringList>("after");
        const QString up = u" %1/%2"_s.arg(globalUp).arg(globalDown);
        QTest::newRow("last instance turns offline")
            << 1 << false << QStringList{"Tool p2 offline" + up};
        QTest::newRow("last instance hidden when running only")
            << 1 << true << QStringList{"Tool p2 offline hidden" + up};
        QTest::newRow("one of three goes")
            << 3 << false << QStringList{"Tool p2" + up, "Tool p2 offline hidden" + up};
    }
    void removalBroadcasts()
    {
        QFETCH(int, instances);
        QFETCH(bool, runningOnly);
        QFETCH(QStringList, after);
        QList<BWCEntryPtr> entries;
        for (int i = 0; i < instances; ++i)
            entries << ScriptedService::entry(u"t%1"_s.arg(i), "C:\\tool.exe");
        m_service->addApp("Tool", entries.first());
        QVERIFY(start(1, entries.mid(1)));
        m_view->findChild<QCheckBox*>("checkBoxOfflineApps")->setChecked(runningOnly);
        select(list().at(0));

        BWCEntryPtr stopped(new BWCEntry(*entries.first()));
        stopped->idList.clear();
        m_service->appRemoved(stopped);
        QTRY_COMPARE(list().count(), after.size());
        QTRY_COMPARE(rows(), after);
        // A removed or hidden selection is no selection; a selected row that
        // stopped shows its name dark grey.
        const AppPtr selected = m_view->selectedApplication();
        QCOMPARE(selected.isNull(), instances > 1 || runningOnly);
        if (selected) {
            const auto* name = selected->findChild<QLabel*>("labelName");
            QCOMPARE(name->palette().color(QPalette::Disabled, QPalette::WindowText),
                     QColor(0xa9, 0xa9, 0xa9));
        }
    }

    void addedBroadcastReplacesRow()
    {
        QVERIFY(startBrowsers());
        select(row("Editor"));
        const Application* editor = row("Editor").data();
        BWCEntryPtr started = ScriptedService::entry("e1", "C:\\bin\\edit.exe", 1, 1000, 1000);
        const qsizetype asked = m_service->requested("GetProcessInfo").size();
        m_service->appAdded(started);
        m_service->appAdded(started); // again before the description comes: not asked twice
        QTRY_COMPARE(row("Editor")->isOffline(), false);
        QCOMPARE(m_service->requested("GetProcessInfo").size(), asked + 1);
        QCOMPARE(list().count(), 4);
        QCOMPARE(row("Editor")->uploadBar()->limit(), 8000u);
        QCOMPARE(m_view->selectedApplication(), row("Editor")); // the selection moves along
        QCOMPARE(row("Editor")->state(), 1);
        QVERIFY(row("Editor").data() == editor); // brought up to date, not built again
    }

    void devicesDecideWhatShows_data()
    {
        QTest::addColumn<QList<qint32>>("devices");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("wireless");
        QTest::newRow("no devices") << QList<qint32>{} << "No Corvid" << false;
        QTest::newRow("unknown device only") << QList<qint32>{7} << "No Corvid" << false;
        QTest::newRow("wired") << QList<qint32>{-254} << "rows" << false;
        QTest::newRow("wireless") << QList<qint32>{-253} << "rows" << true;
    }
    void devicesDecideWhatShows()
    {
        QFETCH(QList<qint32>, devices);
        QFETCH(QString, shown);
        QFETCH(bool, wireless);
        QVERIFY(startBrowsers());
        QList<DeviceInfoPtr> list;
        for (qint32 id : devices)
            list << ScriptedService::device(id);
        const qsizetype enumerations = m_service->requested("BWCEnumApps").size();
        m_service->devicesChanged(list);
        auto* area = m_view->findChild<QScrollArea*>("scrollArea");
        const auto showing = [&] {
            QWidget* w = area->widget();
            if (w->layout()->count() > 2 || w->findChildren<Application*>().size())
                return u"rows"_s;
            for (QLabel* label : w->findChildren<QLabel*>()) {
                if (label->isVisible())
                    return label->text().left(9);
            }
            return u"nothing"_s;
        };
        QTRY_COMPARE(m_view->findChild<QLabel*>("lblWifiStmt")->isVisible(), wireless);
        QTRY_COMPARE(showing(), shown);
        QCOMPARE(m_view->findChild<QWidget*>("widgetBandwidthDisplay")->isVisible(),
                 shown == "rows");
        // The list state asks for the applications again.
        QTRY_COMPARE(m_service->requested("BWCEnumApps").size() > enumerations, shown == "rows");
    }

    void reloads_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("default upload") << "defaultUL";
        QTest::newRow("default block") << "defaultBlock";
        QTest::newRow("upload maximum") << "ulMax";
        QTest::newRow("control switched on") << "enable";
    }
    void reloads()
    {
        QFETCH(QString, change);
        QVERIFY(startBrowsers());
        QPointer<Application> old = list().at(0).data();
        const qsizetype enumerations = m_service->requested("BWCEnumApps").size();
        m_service->enumerationsAnswered = -1;
        if (change == "defaultUL")
            m_settings->setDefaultUL(16000);
        else if (change == "defaultBlock")
            m_settings->setDefaultBlock(true);
        else if (change == "ulMax")
            m_host->getDataSource("System.Network.BWCUploadMax")->publish(4000000u);
        else
            QMetaObject::invokeMethod(m_view.get(), "calledBWCEnable", Q_ARG(bool, true));
        QCOMPARE(list().count(), 0); // dropped at once
        // What the service enumerates comes back; the instance it reported
        // only by broadcast does not.
        QTRY_COMPARE(list().count(), 3);
        QTRY_VERIFY(old.isNull());
        QVERIFY(m_service->requested("BWCEnumApps").size() > enumerations);
        if (change == "ulMax")
            QCOMPARE(m_view->findChild<QLabel*>("labelMax")->text(), "4000"_L1);
    }

    // Statistics polling follows the stored sample rate (not the signal's
    // argument) and stops while bandwidth control is off, where the list
    // gives way to the disabled message; switched on again, the list is
    // reloaded and enumerated twice (the reload and the list state).
    void statisticsPolling_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("period"); // 0: no polling
        QTest::addColumn<int>("enumerations");
        QTest::newRow("stored rate, not the argument") << QStringList{"rate"} << 500 << 0;
        QTest::newRow("control off") << QStringList{"off"} << 0 << 0;
        QTest::newRow("rate while off") << QStringList{"off", "rate"} << 0 << 0;
        QTest::newRow("off and on again") << QStringList{"off", "rate", "on"} << 500 << 2;
    }
    void statisticsPolling()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, period);
        QFETCH(int, enumerations);
        QVERIFY(startBrowsers());
        const qsizetype enumerated = m_service->requested("BWCEnumApps").size();
        for (const QString& step : steps) {
            if (step == "rate") {
                std::unique_ptr<QSettings>(HostSettings::create())
                    ->setValue("Applications/StatSampleRate", 500);
                QMetaObject::invokeMethod(m_view.get(), "newStatSampleRate", Q_ARG(quint32, 250));
            } else {
                QMetaObject::invokeMethod(m_view.get(), "calledBWCEnable",
                                          Q_ARG(bool, step == "on"));
            }
        }
        QList<int> periods;
        for (const auto& timer :
             QAbstractEventDispatcher::instance()->registeredTimers(m_view.get()))
            periods << timer.interval;
        QCOMPARE(periods.contains(500), period == 500);
        // Neither the first rate (200 ms) nor the argument; the view's other
        // timers run at 333 ms and above.
        QVERIFY(std::none_of(periods.cbegin(), periods.cend(), [](int p) { return p < 333; }));
        const bool on = period != 0;
        QCOMPARE(m_view->findChild<QComboBox*>("comboBoxSort")->isEnabled(), on);
        bool disabledShown = false;
        for (QLabel* label : m_view->findChildren<QLabel*>())
            disabledShown |= label->isVisible() && label->text().startsWith("Application Control");
        QCOMPARE(disabledShown, !on);
        QTRY_COMPARE(m_service->requested("BWCEnumApps").size() - enumerated, enumerations);
    }

    // The unit source sets every row's bars, both unit labels, the scale (from
    // the global download maximum of 4,000,000 bits per second, halved in the
    // middle) and the graph's range (the larger global maximum).
    void units_data()
    {
        QTest::addColumn<quint32>("unit");
        QTest::addColumn<QStringList>("labels"); // labelUnit, labelBWUnit, labelMax, labelMed
        QTest::newRow("MBps") << 0u << QStringList{"MBps", "Megabytes per second", ".500", ".250"};
        QTest::newRow("Mbps") << 1u << QStringList{"Mbps", "Megabits per second", "4", "2"};
        QTest::newRow("KBps") << 2u << QStringList{"KBps", "Kilobytes per second", "500", "250"};
        QTest::newRow("Kbps") << 3u << QStringList{"Kbps", "Kilobits per second", "4000", "2000"};
        QTest::newRow("Bps") << 4u << QStringList{"Bps", "Bytes per second", "500000", "250000"};
        QTest::newRow("bps") << 5u << QStringList{"bps", "Bits per second", "4000000", "2000000"};
    }
    void units()
    {
        QFETCH(quint32, unit);
        QFETCH(QStringList, labels);
        QVERIFY(startBrowsers());
        auto* graph = m_view->findChild<StripChart*>();
        QVERIFY(graph);
        graph->setRange(0, 0, 1);
        m_host->getDataSource("Application.BandwidthUnit")->publish(unit);
        QStringList shown;
        for (const char* name : {"labelUnit", "labelBWUnit", "labelMax", "labelMed"})
            shown << m_view->findChild<QLabel*>(name)->text();
        QCOMPARE(shown, labels);
        for (int i = 0; i < list().count(); ++i) {
            QCOMPARE(list().at(i)->uploadBar()->unit(), unit);
            QCOMPARE(list().at(i)->downloadBar()->unit(), unit);
        }
        QCOMPARE(graph->rangeHigh(), double(globalDown));
    }

    void sortingMovesOnlyWhatChanged()
    {
        using S = ScriptedService;
        const char* names[] = {"b", "a", "d", "c", "e"};
        for (const char* name : names)
            m_service->addApp(name, S::entry(name, u"C:\\%1.exe"_s.arg(name)));
        // Upload rates: a and c equal, e the most.
        m_service->stats = {S::stat("a", 100, 0), S::stat("b", 5000, 0), S::stat("c", 100, 0),
                            S::stat("d", 0, 0), S::stat("e", 90000, 0)};
        QVERIFY(start(5));
        QTRY_VERIFY(row("e")->uploadValue() > row("b")->uploadValue());
        auto* layout = m_view->findChild<QScrollArea*>("scrollArea")->widget()->layout();
        QList<QLayoutItem*> before;
        for (int i = 0; i < 5; ++i)
            before << layout->itemAt(i);
        auto* sort = m_view->findChild<QComboBox*>("comboBoxSort");
        sort->setCurrentIndex(3); // "Bandwidth UL: Max-Min"
        QStringList order;
        for (int i = 0; i < 5; ++i) {
            order << list().at(i)->name();
            QCOMPARE(layout->itemAt(i)->widget(), list().at(i).data());
        }
        QCOMPARE(order, QStringList({"e", "b", "a", "c", "d"}));
        // e and b were moved; a, c and d went down with them and kept their
        // layout items.
        QCOMPARE(QList<QLayoutItem*>({layout->itemAt(2), layout->itemAt(3), layout->itemAt(4)}),
                 QList<QLayoutItem*>({before.at(0), before.at(2), before.at(3)}));
        QCOMPARE(std::unique_ptr<QSettings>(HostSettings::create())->value("SortType").toInt(), 3);
    }

    void runningOnlyFilter()
    {
        using S = ScriptedService;
        m_service->addApp("Game", S::entry("g1", "C:\\game.exe", 0));
        m_service->addApp("Other", S::entry("o1", "C:\\other.exe", 0));
        QVERIFY(start(2, {S::entry("g2", "C:\\game.exe", 0), S::entry("g3", "C:\\game.exe", 1)}));
        auto* box = m_view->findChild<QCheckBox*>("checkBoxOfflineApps");
        std::unique_ptr<QSettings> stored(HostSettings::create());
        box->setChecked(true);
        QCOMPARE(rows().join(',').count("hidden"), 3);
        QCOMPARE(stored->value("ShowAllApps").toBool(), false);
        box->setChecked(false);
        // One stopped instance per program comes back.
        QCOMPARE(rows().join(',').count("hidden"), 1);
        QCOMPARE(stored->value("ShowAllApps").toBool(), true);
        // Only visible rows take turns in shading.
        QStringList shades;
        for (int i = 0; i < list().count(); ++i) {
            if (list().at(i)->isVisible())
                shades << (list().at(i)->isAlternate() ? "dark" : "light");
        }
        QCOMPARE(shades, QStringList({"light", "dark", "light"}));
    }

    // A drag sends one command per instance, each with its own entry; the
    // other instance shows the new limit once the service reports it again.
    // A refresh of the dragged row from the service (the application
    // restarted, the list enumerated again) leaves the drag alone: the
    // release reports what the user dragged to.
    void dragSendsOncePerInstance_data()
    {
        QTest::addColumn<bool>("refreshed");
        QTest::newRow("plain") << false;
        QTest::newRow("refreshed while dragging") << true;
    }
    void dragSendsOncePerInstance()
    {
        QFETCH(bool, refreshed);
        QVERIFY(startBrowsers());
        const AppPtr first = list().at(0);
        select(first);
        BandwidthBar* bar = first->uploadBar();
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() - 5, 5));
        QTest::mouseMove(bar, QPoint(100, 5));
        const quint32 dragged = bar->limit();
        if (refreshed) {
            m_service->appAdded(ScriptedService::entry("b1", "C:\\bin\\browser.exe", 1, 1000));
            QTRY_COMPARE(first->entry()->uploadMax, 1000);
            QCOMPARE(bar->limit(), dragged);
        }
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(100, 5));
        QCOMPARE(bar->limit(), dragged);
        const qint32 bytes = qint32(dragged / 8);
        QVERIFY(bytes > 0 && dragged < globalUp);
        QTRY_COMPARE(sentEntries("BWCSetAppSettings").size(), 2);
        // In display order, where a refreshed row goes after its equals.
        const QList<BWCEntryPtr> sent = sentEntries("BWCSetAppSettings");
        QCOMPARE(QStringList({sent[0]->id, sent[1]->id}),
                 refreshed ? QStringList({"b2", "b1"}) : QStringList({"b1", "b2"}));
        for (const BWCEntryPtr& entry : sent)
            QCOMPARE(std::pair(entry->uploadMax, entry->downloadMax), std::pair(bytes, -1));
        QCOMPARE(list().find("b2")->uploadBar()->limit(), globalUp);
    }

    void blockAndAllow_data()
    {
        QTest::addColumn<bool>("otherHighest");
        QTest::newRow("two instances") << false;
        QTest::newRow("the other at 1 - Highest") << true;
    }
    void blockAndAllow()
    {
        QFETCH(bool, otherHighest);
        using S = ScriptedService;
        m_service->addApp("Browser", S::entry("b1", "C:\\bin\\browser.exe"));
        QVERIFY(start(1, {S::entry("b2", "C:\\bin\\browser.exe", 1, -1, -1, 1, otherHighest)}));
        // A new instance at the highest priority allows the others.
        flush();
        const qsizetype before = sentEntries("BWCSetAppSettings").size();
        QCOMPARE(before, otherHighest ? 1 : 0);
        const AppPtr other = list().at(1);
        const QString otherShown = describe(other);
        select(list().at(0));
        auto* firewall = list().at(0)->findChild<QComboBox*>("comboFirewall");
        firewall->setCurrentIndex(1);
        QTRY_COMPARE(sentEntries("BWCSetAppSettings", before).size(), 2);
        // The other instance changes when the service reports it again.
        QCOMPARE(describe(other), otherShown);
        QCOMPARE(other->findChild<QComboBox*>("comboFirewall")->currentIndex(), 0);
        firewall->setCurrentIndex(0);
        QTRY_COMPARE(sentEntries("BWCSetAppSettings", before).size(), 4);
        QStringList limits;
        for (const BWCEntryPtr& entry : sentEntries("BWCSetAppSettings", before))
            limits << u"%1 %2/%3"_s.arg(entry->id).arg(entry->uploadMax).arg(entry->downloadMax);
        QCOMPARE(limits, QStringList({"b1 0/0", "b2 0/0", "b1 -2/-2", "b2 -2/-2"}));
    }

    // An application at the highest priority reported again takes its new
    // entry quietly; only other instances hear of its implied "allow".
    void reportedAgain_data()
    {
        QTest::addColumn<int>("instances");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("one instance") << 1 << QStringList();
        QTest::newRow("two instances") << 2 << QStringList{"g2 -2/-2"};
    }
    void reportedAgain()
    {
        QFETCH(int, instances);
        QFETCH(QStringList, sent);
        using S = ScriptedService;
        const BWCEntryPtr game = S::entry("g1", "C:\\game.exe", 1, -1, -1, 1, true);
        m_service->addApp("Game", game);
        QList<BWCEntryPtr> more;
        if (instances > 1)
            more << S::entry("g2", "C:\\game.exe", 1, 5000, 5000);
        QVERIFY(start(1, more));
        flush();
        const qsizetype before = sentEntries("BWCSetAppSettings").size();
        const BWCEntryPtr again(new BWCEntry(*game));
        again->gid = 77;
        m_service->appAdded(again);
        QTRY_COMPARE(list().find("g1")->entry()->gid, 77);
        flush();
        QStringList limits;
        for (const BWCEntryPtr& entry : sentEntries("BWCSetAppSettings", before))
            limits << u"%1 %2/%3"_s.arg(entry->id).arg(entry->uploadMax).arg(entry->downloadMax);
        QCOMPARE(limits, sent);
    }

    // The scale follows the larger of the host's maxima, compared as signed
    // numbers; "no limit" in both reads as "%d" prints it.
    void scaleFollowsMaxima_data()
    {
        QTest::addColumn<quint32>("up");
        QTest::addColumn<quint32>("down");
        QTest::addColumn<QStringList>("labels"); // labelMax, labelMed in Kbps
        QTest::newRow("upload larger") << 16000000u << 4000000u << QStringList{"16000", "8000"};
        QTest::newRow("one without limit")
            << 0xFFFFFFFFu << 4000000u << QStringList{"4000", "2000"};
        QTest::newRow("both without limit")
            << 0xFFFFFFFFu << 0xFFFFFFFFu << QStringList{"-1", "2147483"};
    }
    void scaleFollowsMaxima()
    {
        QFETCH(quint32, up);
        QFETCH(quint32, down);
        QFETCH(QStringList, labels);
        QVERIFY(startBrowsers());
        m_host->getDataSource("System.Network.BWCUploadMax")->publish(up);
        m_host->getDataSource("System.Network.BWCDownloadMax")->publish(down);
        QCOMPARE(QStringList({m_view->findChild<QLabel*>("labelMax")->text(),
                              m_view->findChild<QLabel*>("labelMed")->text()}),
                 labels);
    }

    void restartWarning_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("instances");
        QTest::addColumn<bool>("warned");
        QTest::newRow("normal to highest") << 2 << 0 << 1 << true;
        QTest::newRow("normal to high") << 2 << 1 << 1 << false;
        QTest::newRow("highest to low") << 0 << 3 << 1 << true;
        QTest::newRow("not running") << 2 << 0 << 0 << false;
    }
    void restartWarning()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, instances);
        QFETCH(bool, warned);
        const int service = from == 0 ? 1 : from; // priority numbers 1 to 3
        m_service->addApp("Game", ScriptedService::entry("g", "C:\\game.exe", instances, -1, -1,
                                                         service, from == 0));
        QVERIFY(start(1));
        const AppPtr game = list().at(0);
        select(game);
        QStringList seen;
        if (warned)
            closeNextModal(&seen);
        game->findChild<QComboBox*>("comboAppType")->setCurrentIndex(to);
        QTRY_COMPARE(sentEntries("BWCSetAppSettings").size(), 1);
        QCOMPARE(seen, warned ? QStringList{"Restart Program: Game is currently running. To see "
                                            "the effects of this priority change you must "
                                            "restart it."}
                              : QStringList());
        const BWCEntryPtr sent = sentEntries("BWCSetAppSettings").constLast();
        QCOMPARE(sent->highest, to == 0);
        QCOMPARE(sent->priority, to == 0 ? 1 : to);
        QCOMPARE(game->priority(), quint32(to));
    }

    void hideUntilActive_data()
    {
        QTest::addColumn<bool>("hide");
        QTest::newRow("hidden") << true;
        QTest::newRow("dialog closed") << false;
    }
    void hideUntilActive()
    {
        QFETCH(bool, hide);
        QVERIFY(startBrowsers());
        select(list().at(0));
        QStringList seen;
        closeNextModal(&seen, hide ? "buttonDelete" : nullptr);
        QMetaObject::invokeMethod(m_view.get(), "showDetails", Q_ARG(AppPtr, list().at(1)));
        QCOMPARE(list().count(), hide ? 2 : 4);
        QCOMPARE(m_view->selectedApplication().isNull(), hide);
        QTRY_COMPARE(sentEntries("BWCRemoveAppSettings").size(), hide ? 2 : 0);
        if (hide) {
            const QList<BWCEntryPtr> removed = sentEntries("BWCRemoveAppSettings");
            QCOMPARE(QStringList({removed[0]->id, removed[1]->id}), QStringList({"b1", "b2"}));
        }
    }

    // The whole view with two dozen rows in every state, for a person to look
    // at: <build>/screenshots/view.png. Checks that the rows reach the screen.
    void screenshot()
    {
        QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
        QApplication::setPalette(QPalette(QColor(0x40, 0x40, 0x40), QColor(0x30, 0x30, 0x30)));
        using S = ScriptedService;
        m_service->devices = {S::device(-254), S::device(-253)};
        const char* names[] = {"Web Browser",    "Mail Client",     "Video Call",  "Music Player",
                               "Game Launcher",  "Torrent",         "Cloud Sync",  "Chat",
                               "Updater",        "Package Manager", "News Reader", "Photo Backup",
                               "Remote Desktop", "Voice Chat",      "Map Viewer",  "Code Editor",
                               "Terminal",       "Podcast App",     "Weather",     "Calendar",
                               "Notes",          "Stock Ticker"};
        int n = 0;
        for (const char* name : names) {
            const QString id = u"id%1"_s.arg(n);
            const bool stopped = n % 7 == 3;
            const qint32 cap = n % 5 == 1 ? 40000 : -1; // capped, bytes per second
            const qint32 block = n % 6 == 4 ? 0 : cap;  // blocked
            const bool highest = n % 8 == 2;
            BWCEntryPtr entry = S::entry(id, u"C:\\Apps\\%1.exe"_s.arg(n), stopped ? 0 : 1, block,
                                         block == 0 ? 0 : -1, 1 + n % 3, highest);
            m_service->addApp(name, entry);
            m_service->processes[entry->path].icon =
                QApplication::style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32);
            if (!stopped && block != 0)
                m_service->stats << S::stat(id, 2000u * (n * 7 % 23 + 1), 9000u * (n * 5 % 17 + 1));
            ++n;
        }
        m_service->stats << S::stat({}, 600000, 1900000, true);
        // Two more instances of the browser, one of them set to the highest
        // priority below.
        QList<BWCEntryPtr> instances;
        for (int i = 1; i <= 2; ++i)
            instances << S::entry(u"id0-%1"_s.arg(i), u"C:\\Apps\\0.exe"_s);
        QVERIFY(start(n, instances));
        m_view->resize(860, 1560);
        QTRY_VERIFY(list().at(0)->uploadBar()->current() > 0);
        QList<AppPtr> browsers;
        for (int i = 0; i < list().count(); ++i) {
            if (list().at(i)->name() == "Web Browser")
                browsers << list().at(i);
        }
        QCOMPARE(browsers.size(), 3);
        select(browsers.at(1));
        QStringList warned;
        closeNextModal(&warned);
        browsers.at(1)->findChild<QComboBox*>("comboAppType")->setCurrentIndex(0);
        QCOMPARE(warned.size(), 1);
        // Every instance's bars stand at half its row's height at once, not
        // at their natural height until something else lays them out.
        const auto barsInPlace = [](const AppPtr& r) {
            const int half = r->findChild<QFrame*>("frameApp")->height() / 2 - 4;
            return r->uploadBar()->height() == half && r->downloadBar()->height() == half;
        };
        for (const AppPtr& browser : std::as_const(browsers))
            QVERIFY(barsInPlace(browser));
        select(row("Cloud Sync")); // capped: its labels show the cap
        for (int i = 0; i < list().count(); ++i)
            QVERIFY2(barsInPlace(list().at(i)), qPrintable(list().at(i)->name()));
        QCOMPARE(browsers.at(0)->priority(), 0u); // every instance takes the priority
        // Let the graph gather a few totals.
        QTRY_VERIFY(m_host->getDataSource("System.Network.Total.BandwidthRx")->getSampleCount(-1) >=
                    3);

        const QImage shot = m_view->grab().toImage();
        const QDir out(QStringLiteral(WIDGET_SHOTS_DIR));
        QVERIFY(QDir().mkpath(out.path()));
        QVERIFY(shot.save(out.filePath(u"view.png"_s)));
        int shown = 0;
        for (int i = 0; i < list().count(); ++i) {
            const AppPtr row = list().at(i);
            shown += row->isVisible() && !row->visibleRegion().isEmpty();
        }
        QVERIFY2(shown >= 20, qPrintable(QString::number(shown)));
    }
};

QTEST_MAIN(TestApplicationView)
#include "tst_applicationview.moc"
