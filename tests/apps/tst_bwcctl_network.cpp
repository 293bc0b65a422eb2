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

QJsonObject payloadOf(const QByteArray& line)
{
    return QJsonDocument::fromJson(line).object().value("payload").toObject();
}

} // namespace

class TestBwcctlNetwork : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void send_data();
    void send();
    void watchPrintsBroadcasts();

private:
    quint16 m_port = 0;
    ServiceIO* m_server = nullptr;
    qint32 m_lastDevice = 0;
    QList<BaseCommandPtr> m_unanswered;
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
    // Answers IsProcessGame with processId * 2; process 13 gets an error
    // status, process 99 no answer at all.
    connect(m_server, &ServiceIO::NewCommandReceived, this, [this](BaseCommandPtr cmd) {
        BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd);
        // Left unclaimed, so that the client's cancel can withdraw it.
        if (game && game->processId() == 99) {
            m_unanswered << cmd;
            return;
        }
        if (m_server->RetrieveCommand(&cmd) != 0 || !game)
            return;
        m_lastDevice = cmd->GetDevice();
        game->setAnswer(qint32(game->processId() * 2));
        cmd->SetStatus(game->processId() == 13 ? BCS_INVALID : BCS_SUCCESS);
        m_server->SendCommand(cmd, 10000);
    });
}

void TestBwcctlNetwork::cleanupTestCase()
{
    if (m_server)
        m_server->Release();
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
    QTest::newRow("--port wins over BWC_PORT")
        << QStringList{"--port",        QString::number(m_port), "send",
                       "IsProcessGame", R"({"processId": 5})",   "--device",
                       "-255"}
        << 0 << int(BCS_SUCCESS) << 10 << QString();
    QTest::newRow("no reply in time")
        << QStringList{"--timeout", "400", "send", "IsProcessGame", R"({"processId": 99})"} << 3
        << 0 << 0 << QString("no answer");
    QTest::newRow("options after the verb")
        << QStringList{"send", "IsProcessGame", R"({"processId": 4})", "--timeout=30000", "--json"}
        << 0 << int(BCS_SUCCESS) << 8 << QString();
    QTest::newRow("unknown command")
        << QStringList{"send", "NoSuchThing"} << 2 << 0 << 0 << QString("unknown command");
    QTest::newRow("session command")
        << QStringList{"send", "Handshake"} << 2 << 0 << 0 << QString("handshake");
}

void TestBwcctlNetwork::send()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(int, status);
    QFETCH(int, answer);
    QFETCH(QString, error);

    // bwcctl inherits BWC_PORT; with --port it names a port nobody listens on.
    const bool portOption = args.contains("--port");
    QProcess process;
    if (portOption) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("BWC_PORT", QString::number(freePort()));
        process.setProcessEnvironment(environment);
    }
    process.start(QStringLiteral(BWCCTL_PATH), args);
    QVERIFY(process.waitForStarted(10000));
    // This thread keeps serving meanwhile.
    QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(QString::fromUtf8(err).contains(error), err.constData());
    const QByteArray out = process.readAllStandardOutput();
    if (exitCode != 0) {
        QVERIFY(out.isEmpty());
        // A request that timed out was cancelled on the wire before bwcctl exited.
        for (BaseCommandPtr cmd : std::exchange(m_unanswered, {}))
            QTRY_COMPARE(m_server->RetrieveCommand(&cmd), int(BCS_WRITE_FAILED));
        return;
    }
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    const QJsonObject reply = QJsonDocument::fromJson(lines.first()).object();
    QCOMPARE(reply.value("type").toString(), QString("IsProcessGame"));
    QCOMPARE(reply.value("status").toInt(), status);
    QCOMPARE(payloadOf(lines.first()).value("answer").toInt(), answer);
    QCOMPARE(m_lastDevice, portOption ? -255 : -254);
}

void TestBwcctlNetwork::watchPrintsBroadcasts()
{
    QProcess watcher;
    watcher.start(QStringLiteral(BWCCTL_PATH), {"watch", "--count", "2"});
    QVERIFY(watcher.waitForStarted(10000));
    // Broadcasts reach only clients that completed the handshake: keep sending
    // until the watcher has printed two and quit.
    qint32 value = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            auto* speed = new BCI_BWCSpeedTest;
            speed->setResult0(++value);
            m_server->SendCommand(BaseCommandPtr(speed), 10000);
            return watcher.state() == QProcess::NotRunning;
        },
        20000));
    QCOMPARE(watcher.exitCode(), 0);
    const QList<QByteArray> lines = watcher.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(QJsonDocument::fromJson(lines.at(0)).object().value("type").toString(),
             QString("BWCSpeedTest"));
    QCOMPARE(payloadOf(lines.at(1)).value("result0").toInt(),
             payloadOf(lines.at(0)).value("result0").toInt() + 1);
}

QTEST_MAIN(TestBwcctlNetwork)
#include "tst_bwcctl_network.moc"
