#include "appcatalog.h"
#include "shapingpolicy.h"
#include "simulatedbackend.h"

#include <QSet>
#include <QSignalSpy>
#include <QTest>

class TestSimulatedBackend : public QObject
{
    Q_OBJECT
private slots:
    void catalogIsDeterministicAndVaried();
    void catalogScalesWithUniqueIds();
    void sameSeedSameHistory();
    void applicationsStartAndStop();
    void processInfoDescribesTheExecutable();
    void ratesObeyThePolicyEverySecond();
};

void TestSimulatedBackend::catalogIsDeterministicAndVaried()
{
    const QList<SimulatedApp> a = AppCatalog::generate(7, 30);
    const QList<SimulatedApp> b = AppCatalog::generate(7, 30);
    const QList<SimulatedApp> c = AppCatalog::generate(8, 30);
    QCOMPARE(a.size(), 30);
    int running = 0, differing = 0;
    QSet<SimulatedApp::Kind> kinds;
    for (int i = 0; i < a.size(); ++i) {
        QCOMPARE(a[i].id, b[i].id);
        QCOMPARE(a[i].pids, b[i].pids);
        QCOMPARE(a[i].id, AppCatalog::idForPath(a[i].path.toUpper()));
        QVERIFY(a[i].path.endsWith(QLatin1String(".exe")));
        differing += a[i].id != c[i].id;
        running += !a[i].pids.isEmpty();
        kinds.insert(a[i].kind);
    }
    QVERIFY(differing > 20);
    QVERIFY2(running > 5 && running < 30, qPrintable(QString::number(running)));
    QCOMPARE(kinds.size(), 10);
}

void TestSimulatedBackend::catalogScalesWithUniqueIds()
{
    const QList<SimulatedApp> apps = AppCatalog::generate(3, 1000);
    QSet<QString> ids, names;
    for (const SimulatedApp& app : apps) {
        ids.insert(app.id);
        names.insert(app.name);
    }
    QCOMPARE(ids.size(), 1000);
    QCOMPARE(names.size(), 1000);
}

void TestSimulatedBackend::sameSeedSameHistory()
{
    SimulatedBackend one({11, 30, false});
    SimulatedBackend two({11, 30, false});
    SimulatedBackend other({12, 30, false});
    bool anyTraffic = false;
    for (int second = 0; second < 120; ++second) {
        one.advance(1000);
        // Time may arrive in odd slices; only whole seconds count.
        two.advance(400);
        two.advance(600);
        other.advance(1000);
        const QList<Backend::Rate> a = one.rates(), b = two.rates();
        QCOMPARE(a.size(), b.size());
        for (int i = 0; i < a.size(); ++i) {
            QCOMPARE(a[i].id, b[i].id);
            QCOMPARE(a[i].sent, b[i].sent);
            QCOMPARE(a[i].received, b[i].received);
            anyTraffic |= a[i].received > 0;
        }
    }
    QVERIFY(anyTraffic);
    QVERIFY(one.applications().first().id != other.applications().first().id);
}

void TestSimulatedBackend::applicationsStartAndStop()
{
    SimulatedBackend backend({5, 30, false});
    QSignalSpy started(&backend, &Backend::applicationStarted);
    QSignalSpy stopped(&backend, &Backend::applicationStopped);
    // Every announcement must match the application's state when it is made.
    int mismatches = 0;
    connect(&backend, &Backend::applicationStarted, this, [&](const QString& id) {
        Backend::App app;
        mismatches += !backend.application(id, &app) || app.pids.isEmpty();
    });
    connect(&backend, &Backend::applicationStopped, this, [&](const QString& id) {
        Backend::App app;
        mismatches += !backend.application(id, &app) || !app.pids.isEmpty();
    });
    for (int second = 0; second < 3600; ++second)
        backend.advance(1000);
    QVERIFY(started.count() > 0);
    QVERIFY(stopped.count() > 0);
    QCOMPARE(mismatches, 0);

    Backend::App app;
    const QString id = backend.applications().first().id;
    started.clear();
    stopped.clear();
    backend.script(id, 2, 1000, 2000);
    QCOMPARE(started.count(), 1);
    QVERIFY(backend.application(id, &app));
    QCOMPARE(app.pids.size(), 2);
    backend.script(id, 0, 0, 0);
    QCOMPARE(stopped.count(), 1);
    for (int second = 0; second < 600; ++second)
        backend.advance(1000);
    QVERIFY(backend.application(id, &app));
    QVERIFY(app.pids.isEmpty()); // a scripted application stays as it was told
}

void TestSimulatedBackend::processInfoDescribesTheExecutable()
{
    SimulatedBackend backend({5, 30, false});
    const Backend::App app = backend.applications().at(3);
    Process process;
    QVERIFY(backend.processInfo(app.path.toLower(), &process));
    QCOMPARE(process.filePath, app.path);
    QVERIFY(!process.description.isEmpty());
    QVERIFY(!process.company.isEmpty());
    QVERIFY(process.fileVersion.startsWith(process.productVersion));
    QVERIFY(process.fileSize > 0);
    QCOMPARE(process.icon.size(), QSize(32, 32));
    // The icon is drawn, not blank: its centre (the letter) differs from its fill.
    const QImage image = process.icon.toImage();
    QVERIFY(image.pixel(16, 4) != image.pixel(0, 0));
    QCOMPARE(backend.idForPath(app.path.toUpper()), app.id);
    QVERIFY(!backend.processInfo(QStringLiteral("C:\\nowhere.exe"), &process));
}

void TestSimulatedBackend::ratesObeyThePolicyEverySecond()
{
    // Tight global maxima, a mix of caps, blocks and priorities, and an hour
    // of random traffic: no second may break a rule.
    SimulatedBackend backend({21, 60, false});
    ServiceState state;
    state.globalUploadMax = 200000;
    state.globalDownloadMax = 900000;
    const QList<Backend::App> apps = backend.applications();
    for (int i = 0; i < apps.size(); ++i) {
        AppSettings s;
        s.path = apps[i].path;
        s.uploadMax = i % 3 == 0 ? 5000 : -2;
        s.downloadMax = i % 4 == 0 ? 0 : (i % 4 == 1 ? 50000 : -1);
        s.priority = 1 + i % 3;
        s.highest = i % 7 == 0;
        state.setSettings(apps[i].id, s);
    }
    const ShapingPolicy policy(state);
    backend.setPolicy(policy);
    bool contended = false;
    for (int second = 0; second < 3600; ++second) {
        backend.advance(1000);
        qint64 up = 0, down = 0;
        for (const Backend::Rate& rate : backend.rates()) {
            const ShapingPolicy::Rule rule = policy.ruleFor(rate.id);
            if (rule.blocked) {
                QCOMPARE(rate.sent, 0u);
                QCOMPARE(rate.received, 0u);
            }
            if (rule.uploadCap >= 0)
                QVERIFY(rate.sent <= rule.uploadCap);
            if (rule.downloadCap >= 0)
                QVERIFY(rate.received <= rule.downloadCap);
            up += rate.sent;
            down += rate.received;
        }
        QVERIFY(up <= state.globalUploadMax);
        QVERIFY(down <= state.globalDownloadMax);
        contended |= down > state.globalDownloadMax * 9 / 10;
    }
    QVERIFY(contended); // the test did exercise the global maximum
}

QTEST_MAIN(TestSimulatedBackend)
#include "tst_simulatedbackend.moc"
