#include "servicestate.h"
#include "statefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestStateFile : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void rejects_data();
    void rejects();
    void missingFileGivesFactoryState();
    void unusableFileIsMovedAside_data();
    void unusableFileIsMovedAside();
    void unmovableFileIsNeverOverwritten();
    void saveCreatesFolder();

private:
    static ServiceState sample();
};

ServiceState TestStateFile::sample()
{
    ServiceState state;
    state.enabled = false;
    state.globalUploadMax = 1000;
    state.globalDownloadMax = -1;
    state.defaultUploadMax = 0;
    state.defaultDownloadMax = 4096;
    state.defaultPriority = 3;
    state.lanException = 1;
    AppSettings app;
    app.path = QStringLiteral("C:\\Program Files\\A\\a.exe");
    app.uploadMax = 0;
    app.downloadMax = -1;
    app.priority = 1;
    app.highest = true;
    state.setSettings(QStringLiteral("00aa"), app);
    app.path = QStringLiteral("C:\\B\\\u00e9t\u00e9.exe");
    app.uploadMax = 12345;
    app.downloadMax = -2;
    app.priority = -2;
    app.highest = false;
    state.setSettings(QStringLiteral("00bb"), app);
    return state;
}

void TestStateFile::roundTrip()
{
    const ServiceState state = sample();
    ServiceState back;
    QString error;
    QVERIFY2(ServiceState::fromJson(state.toJson(), &back, &error), qPrintable(error));
    QCOMPARE(back.apps.size(), 2);
    QVERIFY(back == state);
}

void TestStateFile::rejects_data()
{
    QTest::addColumn<QByteArray>("json");
    const QByteArray good = sample().toJson();
    const auto replace = [&](const char* from, const char* to) {
        QByteArray copy = good;
        copy.replace(from, to);
        Q_ASSERT(copy != good);
        return copy;
    };
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << good.left(good.size() / 2);
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("no version") << replace("\"version\"", "\"versio\"");
    QTest::newRow("future version") << replace("\"version\": 1", "\"version\": 2");
    QTest::newRow("enabled not bool") << replace("\"enabled\": false", "\"enabled\": 0");
    QTest::newRow("global of zero")
        << replace("\"globalUploadMax\": 1000", "\"globalUploadMax\": 0");
    QTest::newRow("fractional limit")
        << replace("\"globalUploadMax\": 1000", "\"globalUploadMax\": 10.5");
    QTest::newRow("limit beyond 32 bits")
        << replace("\"globalUploadMax\": 1000", "\"globalUploadMax\": 4294967296");
    QTest::newRow("default of -2")
        << replace("\"defaultUploadMax\": 0", "\"defaultUploadMax\": -2");
    QTest::newRow("default priority 4")
        << replace("\"defaultPriority\": 3", "\"defaultPriority\": 4");
    QTest::newRow("app limit -3") << replace("\"uploadMax\": 12345", "\"uploadMax\": -3");
    QTest::newRow("app priority 0") << replace("\"priority\": 1", "\"priority\": 0");
    QTest::newRow("app without id") << replace("\"id\": \"00aa\"", "\"id\": \"\"");
    QTest::newRow("app listed twice") << replace("\"id\": \"00bb\"", "\"id\": \"00aa\"");
    QTest::newRow("app not an object") << replace("\"apps\": [", "\"apps\": [1,");
}

void TestStateFile::rejects()
{
    QFETCH(QByteArray, json);
    ServiceState out = sample();
    out.lanException = 0; // a marker: a failed parse must leave it alone
    QString error;
    QVERIFY(!ServiceState::fromJson(json, &out, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(out.lanException, 0);
}

void TestStateFile::missingFileGivesFactoryState()
{
    QTemporaryDir dir;
    StateFile file(dir.filePath(QStringLiteral("state.json")));
    ServiceState state = sample();
    QString message;
    QCOMPARE(file.load(&state, &message), StateFile::LoadResult::Missing);
    QVERIFY(state == ServiceState());
}

void TestStateFile::unusableFileIsMovedAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("unreadable");
    QTest::newRow("garbage") << QByteArray("{\"version\": 1, \"enab") << false;
    QTest::newRow("wrong types") << QByteArray("{\"version\": \"1\"}") << false;
    QTest::newRow("unreadable") << sample().toJson() << true;
}

void TestStateFile::unusableFileIsMovedAside()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, unreadable);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    if (unreadable) {
        QFile::setPermissions(path, QFileDevice::Permissions());
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("this user can read files without permission (running as root?)");
    }
    StateFile file(path);
    ServiceState state = sample();
    QString message;
    QCOMPARE(file.load(&state, &message), StateFile::LoadResult::MovedAside);
    QVERIFY(state == ServiceState());
    QVERIFY(message.contains(QStringLiteral("moved it aside")));
    QVERIFY(!QFile::exists(path));
    const QStringList aside =
        QDir(dir.path()).entryList({QStringLiteral("state.json.corrupt-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QVERIFY(message.contains(aside.first()));
    QFile kept(dir.filePath(aside.first()));
    kept.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);

    // A second bad file gets a name of its own, not the first one's.
    QFile again(path);
    QVERIFY(again.open(QIODevice::WriteOnly));
    again.write("nonsense");
    again.close();
    QCOMPARE(file.load(&state, &message), StateFile::LoadResult::MovedAside);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("state.json.corrupt-*")}).size(), 2);
}

void TestStateFile::unmovableFileIsNeverOverwritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("corrupt");
    }
    // A folder that does not let us rename inside it.
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(dir.filePath(QStringLiteral("probe")));
    const bool writable = probe.open(QIODevice::WriteOnly);
    if (writable) {
        probe.remove();
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
        QSKIP("this user can write into read-only folders (running as root?)");
    }
    StateFile file(path);
    ServiceState state;
    QString message;
    QCOMPARE(file.load(&state, &message), StateFile::LoadResult::Failed);
    QVERIFY(message.contains(QStringLiteral("refusing to overwrite")));
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("corrupt"));
}

void TestStateFile::saveCreatesFolder()
{
    QTemporaryDir dir;
    StateFile file(dir.filePath(QStringLiteral("deeper/still/state.json")));
    QString error;
    QVERIFY2(file.save(sample(), &error), qPrintable(error));
    ServiceState back;
    QString message;
    QCOMPARE(file.load(&back, &message), StateFile::LoadResult::Loaded);
    QVERIFY(back == sample());
}

QTEST_GUILESS_MAIN(TestStateFile)
#include "tst_statefile.moc"
