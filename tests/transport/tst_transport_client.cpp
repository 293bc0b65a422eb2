// A client made by the factory against a raw listening socket that plays the
// service: the handshake as the client speaks it, its session rules, framing
// faults, time-outs and cancels on the wire, and blocking waits.

#include "serviceio.h"
#include "serviceiofactory.h"
#include "transporttestsupport.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTest>
#include <QtEndian>

#include <memory>
#include <thread>

using namespace TransportTest;

class TestTransportClient : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void handshakeThenQueuedRequestsInOrder();
    void sessionRules_data();
    void sessionRules();
    void framing_data();
    void framing();
    void timeoutBeforeWriteCausesNoTraffic();
    void timeoutAfterWriteCancelsOnTheWire();
    void blockingWaitForReply();
    void remoteCancelFromOwnerThread_data();
    void remoteCancelFromOwnerThread();
    void withoutServiceNothingConnects();

private:
    std::unique_ptr<FakePeer> accept();
    // Accepts the client and completes the handshake, assigning the uuid given.
    std::unique_ptr<FakePeer> online(const QUuid& assigned = QUuid::createUuid());
    BaseCommandPtr replyTo(const BaseCommandPtr& request, qint32 status = BCS_SUCCESS);

    QTcpServer m_listener;
    ServiceIO* m_client = nullptr;
    std::unique_ptr<Collector> m_owner;
};

void TestTransportClient::init()
{
    QVERIFY(m_listener.listen(QHostAddress(QHostAddress::LocalHost), 0));
    qputenv("BWC_PORT", QByteArray::number(m_listener.serverPort()));
    m_client = CreateServiceIO(false);
    QVERIFY(m_client);
    QVERIFY(!m_client->IsServer());
    m_client->SetName("test client");
    m_owner = std::make_unique<Collector>(m_client);
}

void TestTransportClient::cleanup()
{
    if (m_client)
        m_client->Release();
    m_client = nullptr;
    m_owner.reset();
    m_listener.close();
}

std::unique_ptr<FakePeer> TestTransportClient::accept()
{
    if (!m_listener.hasPendingConnections() && !m_listener.waitForNewConnection(5000))
        return nullptr;
    return std::make_unique<FakePeer>(m_listener.nextPendingConnection());
}

std::unique_ptr<FakePeer> TestTransportClient::online(const QUuid& assigned)
{
    std::unique_ptr<FakePeer> peer = accept();
    if (!peer)
        return nullptr;
    peer->send(BaseCommandPtr(new BCI_InitComm));
    if (!peer->waitForFrames(1) || !command_cast<BCI_Handshake>(peer->frames.first()))
        return nullptr;
    BCI_Handshake answer;
    answer.setSessionId(assigned);
    peer->send(&answer);
    return peer;
}

BaseCommandPtr TestTransportClient::replyTo(const BaseCommandPtr& request, qint32 status)
{
    BaseCommandPtr reply = BaseCommand::GetCmd(int(request->GetType()));
    reply->SetSequence(request->GetSequence());
    reply->SetStatus(status);
    if (BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(reply))
        game->setAnswer(qint32(processIdOf(request) * 2));
    return reply;
}

void TestTransportClient::handshakeThenQueuedRequestsInOrder()
{
    QList<BaseCommandPtr> sent;
    for (quint32 id = 1; id <= 3; ++id) {
        sent << request(id);
        QCOMPARE(m_client->SendCommand(sent.last(), 10000), 0);
    }
    std::unique_ptr<FakePeer> peer = accept();
    QVERIFY(peer);
    peer->send(BaseCommandPtr(new BCI_InitComm));
    QVERIFY(peer->waitForFrames(1));
    const BCI_Handshake* proposal = command_cast<BCI_Handshake>(peer->frames.first());
    QVERIFY(proposal);
    QCOMPARE(peer->rawFrames.first().size(), 38);
    QCOMPARE(proposal->GetSequence(), 0u);
    QVERIFY(!proposal->sessionId().isNull());

    // Nothing else is written until the service's Handshake arrives.
    QTest::qWait(50);
    QCOMPARE(peer->frames.size(), 1);
    const QUuid assigned = QUuid::createUuid();
    BCI_Handshake answer;
    answer.setSessionId(assigned);
    peer->send(&answer);

    QVERIFY(peer->waitForFrames(4));
    for (int i = 0; i < 3; ++i) {
        const BaseCommandPtr written = peer->frames.at(i + 1);
        QCOMPARE(processIdOf(written), quint32(i + 1));
        QCOMPARE(written->GetSequence(), quint32(i + 1));
        QCOMPARE(written->GetStatus(), int(BCS_QUEUED));
        peer->send(replyTo(written));
    }
    QTRY_COMPARE(m_owner->replies.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(m_owner->retrieveResults.at(i), 0);
        QCOMPARE(m_owner->replies.at(i)->GetSequence(), quint32(i + 1));
        QCOMPARE(answerOf(m_owner->replies.at(i)), (i + 1) * 2);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_owner->connects, 1, 3000);

    // A dropped connection is reported once; the client comes back proposing
    // the uuid the service gave it.
    peer.reset();
    QTRY_COMPARE_WITH_TIMEOUT(m_owner->disconnects, 1, 3000);
    peer = accept();
    QVERIFY(peer);
    peer->send(BaseCommandPtr(new BCI_InitComm));
    QVERIFY(peer->waitForFrames(1));
    QCOMPARE(command_cast<BCI_Handshake>(peer->frames.first())->sessionId(), assigned);
    QCOMPARE(m_owner->disconnects, 1);
}

void TestTransportClient::sessionRules_data()
{
    QTest::addColumn<bool>("afterHandshake");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("expected"); // 0: nothing comes back

    QTest::newRow("cancel before handshake")
        << false << int(BCI_CancelCommand::TypeId) << int(BCS_SUCCESS) << int(BCS_UNSUPPORTED);
    QTest::newRow("command before handshake")
        << false << int(BCI_IsProcessGame::TypeId) << int(BCS_SUCCESS) << int(BCS_NOT_INITIALIZED);
    QTest::newRow("rejection before handshake")
        << false << int(BCI_IsProcessGame::TypeId) << int(BCS_NOT_INITIALIZED) << 0;
    QTest::newRow("second handshake")
        << true << int(BCI_Handshake::TypeId) << int(BCS_SUCCESS) << int(BCS_NULL_COMMAND);
    QTest::newRow("init after handshake")
        << true << int(BCI_InitComm::TypeId) << int(BCS_SUCCESS) << int(BCS_NULL_COMMAND);
    QTest::newRow("cancel answer after handshake")
        << true << int(BCI_CancelCommand::TypeId) << int(BCS_INVALID) << 0;
    QTest::newRow("returned rejection after handshake")
        << true << int(BCI_InitComm::TypeId) << int(BCS_NULL_COMMAND) << 0;
}

void TestTransportClient::sessionRules()
{
    QFETCH(bool, afterHandshake);
    QFETCH(int, type);
    QFETCH(int, status);
    QFETCH(int, expected);

    LogCapture quiet;
    std::unique_ptr<FakePeer> peer = afterHandshake ? online() : accept();
    QVERIFY(peer);
    const int before = afterHandshake ? 1 : 0;
    if (afterHandshake)
        QVERIFY(peer->waitForFrames(1));
    const BaseCommandPtr cmd = BaseCommand::GetCmd(type);
    cmd->SetSequence(12);
    cmd->SetStatus(status);
    peer->send(cmd);
    // Something the client always answers follows, so the first frame back
    // tells whether the command above was answered.
    BaseCommandPtr marker(new BCI_CancelCommand);
    if (afterHandshake)
        marker = BaseCommandPtr(new BCI_InitComm);
    marker->SetSequence(99);
    peer->send(marker);
    QVERIFY(peer->waitForFrames(before + 1));
    const BaseCommandPtr first = peer->frames.at(before);
    if (expected == 0) {
        QCOMPARE(first->GetSequence(), 99u);
    } else {
        QCOMPARE(int(first->GetType()), type);
        QCOMPARE(first->GetSequence(), 12u);
        QCOMPARE(first->GetStatus(), expected);
    }
    QVERIFY(m_owner->replies.isEmpty());
}

void TestTransportClient::framing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("survives");

    QTest::newRow("split into single bytes") << "bytes" << true;
    QTest::newRow("two frames in one segment") << "together" << true;
    QTest::newRow("unknown type in between") << "unknown" << true;
    QTest::newRow("length 11") << "short" << false;
    QTest::newRow("length 100001") << "long" << false;
}

void TestTransportClient::framing()
{
    QFETCH(QString, how);
    QFETCH(bool, survives);

    LogCapture quiet;
    std::unique_ptr<FakePeer> peer = online();
    QVERIFY(peer);
    const BaseCommandPtr first = request(1);
    const BaseCommandPtr second = request(2);
    m_client->SendCommand(first, 10000);
    m_client->SendCommand(second, 10000);
    QVERIFY(peer->waitForFrames(3));
    const QByteArray replies =
        frameOf(replyTo(peer->frames.at(1)).data()) + frameOf(replyTo(peer->frames.at(2)).data());

    QByteArray junk(8, '\0');
    qToBigEndian<quint32>(how == "short" ? 11 : how == "long" ? 100001 : 24, junk.data());
    qToBigEndian<quint32>(0x8018, junk.data() + 4);
    if (how == "unknown")
        junk += QByteArray(16, 'u');

    if (how == "bytes") {
        for (char byte : replies) {
            peer->sendRaw(QByteArray(1, byte));
            QTest::qWait(1);
        }
    } else if (how == "together") {
        peer->sendRaw(replies);
    } else {
        peer->sendRaw(junk + replies);
    }

    if (survives) {
        QTRY_COMPARE(m_owner->replies.size(), 2);
        QCOMPARE(answerOf(m_owner->replies.at(0)), 2);
        QCOMPARE(answerOf(m_owner->replies.at(1)), 4);
        QCOMPARE(peer->socket()->state(), QAbstractSocket::ConnectedState);
        return;
    }
    // The client gives up the connection and comes back on its next tick.
    QVERIFY(peer->waitForDisconnect());
    QVERIFY(m_owner->replies.isEmpty());
    peer = online();
    QVERIFY(peer);
}

void TestTransportClient::timeoutBeforeWriteCausesNoTraffic()
{
    std::unique_ptr<FakePeer> peer = accept();
    QVERIFY(peer);
    BaseCommandPtr ask = request(5);
    QCOMPARE(m_client->SendCommand(ask, 100), 0);
    QTRY_COMPARE(m_owner->timedOut.size(), 1);
    QCOMPARE(m_owner->timedOut.first(), ask);
    QCOMPARE(ask->GetStatus(), int(BCS_TIMED_OUT));
    QCOMPARE(m_client->RetrieveCommand(&ask), int(BCS_WRITE_FAILED));
    QTest::qWait(50);
    QCOMPARE(peer->bytesReceived, 0);
}

void TestTransportClient::timeoutAfterWriteCancelsOnTheWire()
{
    LogCapture quiet;
    std::unique_ptr<FakePeer> peer = online();
    QVERIFY(peer);
    BaseCommandPtr ask = request(6);
    QCOMPARE(m_client->SendCommand(ask, 200), 0);
    QVERIFY(peer->waitForFrames(2));
    const quint32 sequence = peer->frames.at(1)->GetSequence();

    QVERIFY(peer->waitForFrames(3));
    const BCI_CancelCommand* cancel = command_cast<BCI_CancelCommand>(peer->frames.at(2));
    QVERIFY(cancel);
    QCOMPARE(peer->rawFrames.at(2).size(), 24);
    QCOMPARE(cancel->targetSequence(), sequence);
    QVERIFY(cancel->GetSequence() != 0 && cancel->GetSequence() != sequence);

    QTRY_COMPARE(m_owner->timedOut.size(), 1);
    QCOMPARE(m_owner->timedOut.first(), ask);
    QCOMPARE(m_client->RetrieveCommand(&ask), int(BCS_WRITE_FAILED));
    QCOMPARE(peer->frames.size(), 3);
}

void TestTransportClient::blockingWaitForReply()
{
    BaseCommandPtr ask = request(7);
    QCOMPARE(m_client->SendCommand(ask, 10000), 0);
    int result = 1;
    BaseCommandPtr waited = ask;
    std::thread waiter([&] { result = m_client->WaitForCommand(&waited, 10000); });

    std::unique_ptr<FakePeer> peer = online();
    QVERIFY(peer);
    QVERIFY(peer->waitForFrames(2));
    peer->send(replyTo(peer->frames.at(1)));
    QTRY_COMPARE(m_owner->replies.size(), 1);
    waiter.join();
    QCOMPARE(result, 0);
    QCOMPARE(answerOf(waited), 14);
    QCOMPARE(waited->GetStatus(), int(BCS_SUCCESS));

    // A reply that never comes ends the wait with a time-out.
    BaseCommandPtr never = request(8);
    never->SetSequence(4242);
    std::thread impatient([&] { result = m_client->WaitForCommand(&never, 30); });
    impatient.join();
    QCOMPARE(result, int(BCS_TIMED_OUT));
}

void TestTransportClient::remoteCancelFromOwnerThread_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("expected");

    QTest::newRow("service withdrew it") << int(BCS_SUCCESS) << 0;
    QTest::newRow("service could not") << int(BCS_INVALID) << int(BCS_NOT_INITIALIZED);
}

void TestTransportClient::remoteCancelFromOwnerThread()
{
    QFETCH(int, answer);
    QFETCH(int, expected);

    std::unique_ptr<FakePeer> peer = online();
    QVERIFY(peer);
    BaseCommandPtr ask = request(9);
    QCOMPARE(m_client->SendCommand(ask, 10000), 0);
    QVERIFY(peer->waitForFrames(2));

    int result = 1;
    std::thread canceller([&] { result = m_client->CancelCommand(ask); });
    QVERIFY(peer->waitForFrames(3));
    const BaseCommandPtr cancel = peer->frames.at(2);
    QVERIFY(command_cast<BCI_CancelCommand>(cancel));
    cancel->SetStatus(answer);
    peer->send(cancel);
    canceller.join();
    QCOMPARE(result, expected);
    // Withdrawn, the request is forgotten; otherwise its placeholder still waits.
    QCOMPARE(m_client->RetrieveCommand(&ask), expected == 0 ? int(BCS_WRITE_FAILED) : 0);
}

void TestTransportClient::withoutServiceNothingConnects()
{
    LogCapture log;
    m_listener.close();
    QTRY_VERIFY_WITH_TIMEOUT(log.count("~~~~Now connecting to HOST") >= 2, 3000);
    QCOMPARE(m_owner->connects, 0);

    // Released while offline, the client ends at once and reports what it held.
    QCOMPARE(m_client->SendCommand(request(1), 10000), 0);
    m_client->Release();
    m_client = nullptr;
    QCOMPARE(log.count("ServiceIO destructing, 1/0 messages in send/receive queue"), 1);
    QCOMPARE(log.count("   * IsProcessGame, status 2"), 1);
}

QTEST_MAIN(TestTransportClient)
#include "tst_transport_client.moc"
