// bwcctl's network verbs, run as a child process against a server made by the
// factory in this process, whose owner answers from the test thread.

#include "commands.h"
#include "serviceio.h"
#include "serviceiofactory.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.serverPort();
}

} // namespace

// Answers IsProcessGame with processId * 2; process 13 gets an error status,
// process 99 no answer at all.
class Service : public QObject
{
    Q_OBJECT
public:
    explicit Service(ServiceIO* server) : m_server(server)
    {
        connect(server, SIGNAL(NewCommandReceived(BaseCommandPtr)), this,
                SLOT(OnCommand(BaseCommandPtr)));
    }
    qint32 lastDevice = 0;

protected:
    bool event(QEvent* event) override
    {
        m_server->SynchronizeDelivery();
        return QObject::event(event);
    }

private slots:
    void OnCommand(BaseCommandPtr cmd)
    {
        if (m_server->RetrieveCommand(&cmd) != 0)
            return;
        lastDevice = cmd->GetDevice();
        BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd);
        if (game && game->processId() == 99)
            return;
        if (game)
            game->setAnswer(qint32(game->processId() * 2));
        cmd->SetStatus(game && game->processId() == 13 ? BCS_INVALID : BCS_SUCCESS);
        m_server->SendCommand(cmd, 10000);
    }

private:
    ServiceIO* m_server;
};

class TestBwcctlNetwork : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void send_data();
    void send();
    void portOptionWinsOverEnvironment();
    void watchPrintsBroadcasts();

private:
    // Runs bwcctl to its end while this thread keeps serving.
    int run(const QStringList& args, QByteArray* out, QByteArray* err,
            const QByteArray& environmentPort = QByteArray());

    quint16 m_port = 0;
    ServiceIO* m_server = nullptr;
    Service* m_service = nullptr;
};

void TestBwcctlNetwork::initTestCase()
{
#if defined(__SANITIZE_THREAD__)
    QSKIP("the thread sanitizer's runtime cannot follow QProcess's fork in a threaded process");
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    QSKIP("the thread sanitizer's runtime cannot follow QProcess's fork in a threaded process");
#endif
#endif
    m_port = freePort();
    qputenv("BWC_PORT", QByteArray::number(m_port));
    m_server = CreateServiceIO(true);
    QVERIFY(m_server);
    m_service = new Service(m_server);
}

void TestBwcctlNetwork::cleanupTestCase()
{
    delete m_service;
    if (m_server)
        m_server->Release();
}

int TestBwcctlNetwork::run(const QStringList& args, QByteArray* out, QByteArray* err,
                           const QByteArray& environmentPort)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("BWC_PORT", environmentPort.isEmpty()
                                       ? QString::number(m_port)
                                       : QString::fromLatin1(environmentPort));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BWCCTL_PATH), args);
    if (!process.waitForStarted(10000))
        return -1;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
        process.kill();
        process.waitForFinished();
        return -2;
    }
    *out = process.readAllStandardOutput();
    *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3;
}

void TestBwcctlNetwork::send_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("status");    // of the printed reply
    QTest::addColumn<int>("answer");    // its payload's answer
    QTest::addColumn<QString>("error"); // a piece of the message on standard error

    QTest::newRow("reply") << QStringList{"send", "IsProcessGame", R"({"processId": 21})"} << 0
                           << int(BCS_SUCCESS) << 42 << QString();
    QTest::newRow("error status is still a reply")
        << QStringList{"send", "IsProcessGame", R"({"processId": 13})"} << 0 << int(BCS_INVALID)
        << 26 << QString();
    QTest::newRow("no reply in time")
        << QStringList{"--timeout", "400", "send", "IsProcessGame", R"({"processId": 99})"} << 3
        << 0 << 0 << QString("no answer");
    QTest::newRow("unknown command")
        << QStringList{"send", "NoSuchThing"} << 2 << 0 << 0 << QString("unknown command");
    QTest::newRow("session command")
        << QStringList{"send", "Handshake"} << 2 << 0 << 0 << QString("handshake");
    QTest::newRow("bad field") << QStringList{"send", "IsProcessGame", R"({"nope": 1})"} << 2 << 0
                               << 0 << QString("nope");
}

void TestBwcctlNetwork::send()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(int, status);
    QFETCH(int, answer);
    QFETCH(QString, error);

    QByteArray out, err;
    QCOMPARE(run(args, &out, &err), exitCode);
    if (!error.isEmpty())
        QVERIFY2(QString::fromUtf8(err).contains(error), err.constData());
    if (exitCode != 0) {
        QVERIFY(out.isEmpty());
        return;
    }
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    const QJsonObject reply = QJsonDocument::fromJson(lines.first()).object();
    QCOMPARE(reply.value("type").toString(), QString("IsProcessGame"));
    QCOMPARE(reply.value("status").toInt(), status);
    QCOMPARE(reply.value("payload").toObject().value("answer").toInt(), answer);
}

void TestBwcctlNetwork::portOptionWinsOverEnvironment()
{
    QByteArray out, err;
    const QStringList args{"--port",        QString::number(m_port), "send",
                           "IsProcessGame", R"({"processId": 5})",   "--device",
                           "-255"};
    QCOMPARE(run(args, &out, &err, QByteArray::number(freePort())), 0);
    QCOMPARE(
        QJsonDocument::fromJson(out.trimmed()).object().value("payload").toObject().value("answer"),
        QJsonValue(10));
    QCOMPARE(m_service->lastDevice, -255);
}

void TestBwcctlNetwork::watchPrintsBroadcasts()
{
    QProcess watcher;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("BWC_PORT", QString::number(m_port));
    watcher.setProcessEnvironment(environment);
    watcher.start(QStringLiteral(BWCCTL_PATH), {"watch", "--count", "2"});
    QVERIFY(watcher.waitForStarted(10000));
    // Broadcasts reach only clients that completed the handshake: keep sending
    // until the watcher has printed two and quit.
    qint32 value = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            if (watcher.state() == QProcess::NotRunning)
                return true;
            auto* speed = new BCI_BWCSpeedTest;
            speed->setResult0(++value);
            m_server->SendCommand(BaseCommandPtr(speed), 10000);
            return false;
        },
        20000));
    QCOMPARE(watcher.exitCode(), 0);
    const QList<QByteArray> lines = watcher.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(lines.at(0)).object();
    const QJsonObject second = QJsonDocument::fromJson(lines.at(1)).object();
    QCOMPARE(first.value("type").toString(), QString("BWCSpeedTest"));
    QCOMPARE(second.value("payload").toObject().value("result0").toInt(),
             first.value("payload").toObject().value("result0").toInt() + 1);
}

QTEST_MAIN(TestBwcctlNetwork)
#include "tst_bwcctl_network.moc"
