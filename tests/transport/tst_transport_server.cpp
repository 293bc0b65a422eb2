// The server made by the factory, driven by raw sockets that play clients:
// exact frames of the handshake, the session rules, routing, cancelling, and
// peers that misbehave.

#include "serviceio.h"
#include "serviceiofactory.h"
#include "transporttestsupport.h"

#include <QTest>
#include <QtEndian>

#include <memory>

using namespace TransportTest;

namespace {

QByteArray prefix(quint32 length, quint32 type)
{
    QByteArray bytes(8, '\0');
    qToBigEndian<quint32>(length, bytes.data());
    qToBigEndian<quint32>(type, bytes.data() + 4);
    return bytes;
}

} // namespace

class TestTransportServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void initCommFrameIsExact();
    void handshakeAssignsUuids_data();
    void handshakeAssignsUuids();
    void rulesBeforeHandshake();
    void rulesAfterHandshake_data();
    void rulesAfterHandshake();
    void repliesAndBroadcastsAreRouted();
    void cancel_data();
    void cancel();
    void badInput_data();
    void badInput();
    void floodOfUnclaimedRequestsIsRefused();
    void peerThatStopsReadingIsCutOff();

private:
    std::unique_ptr<FakePeer> authenticated(QUuid* uuid = nullptr);

    quint16 m_port = 0;
    ServiceIO* m_server = nullptr;
    std::unique_ptr<EchoService> m_echo;
};

void TestTransportServer::init()
{
    m_port = useFreePort();
    m_server = CreateServiceIO(true);
    QVERIFY(m_server);
    QVERIFY(m_server->IsServer());
    m_echo = std::make_unique<EchoService>(m_server);
}

void TestTransportServer::cleanup()
{
    m_echo.reset();
    if (m_server)
        m_server->Release();
    m_server = nullptr;
}

std::unique_ptr<FakePeer> TestTransportServer::authenticated(QUuid* uuid)
{
    auto peer = std::make_unique<FakePeer>();
    const QUuid proposed = QUuid::createUuid();
    QUuid assigned;
    if (!peer->handshake(m_port, proposed, &assigned) || assigned != proposed)
        return nullptr;
    if (uuid)
        *uuid = assigned;
    return peer;
}

void TestTransportServer::initCommFrameIsExact()
{
    FakePeer peer;
    QVERIFY(peer.connectTo(m_port));
    QVERIFY(peer.waitForFrames(1));
    const QByteArray expected = QByteArray::fromHex("00000014"   // length 20
                                                    "00001001"   // InitComm
                                                    "00000000"   // sequence
                                                    "00000001"   // BCS_SUCCESS
                                                    "ffffff02"); // device -254
    QCOMPARE(peer.rawFrames.first(), expected);

    BCI_Handshake hello;
    hello.setSessionId(QUuid::createUuid());
    peer.send(&hello);
    QVERIFY(peer.waitForFrames(2));
    QCOMPARE(peer.rawFrames.at(1).size(), 38);
    QCOMPARE(peer.rawFrames.at(1), frameOf(&hello));
}

void TestTransportServer::handshakeAssignsUuids_data()
{
    QTest::addColumn<QString>("proposal");
    QTest::newRow("a new uuid is kept") << "new";
    QTest::newRow("a null uuid is replaced") << "null";
    QTest::newRow("a uuid in use is replaced") << "taken";
}

void TestTransportServer::handshakeAssignsUuids()
{
    QFETCH(QString, proposal);
    QUuid existing;
    const std::unique_ptr<FakePeer> first = authenticated(&existing);
    QVERIFY(first);

    const QUuid proposed = proposal == "new"    ? QUuid::createUuid()
                           : proposal == "null" ? QUuid()
                                                : existing;
    FakePeer second;
    QUuid assigned;
    QVERIFY(second.handshake(m_port, proposed, &assigned));
    QVERIFY(!assigned.isNull());
    QVERIFY(assigned != existing);
    QCOMPARE(assigned == proposed, proposal == "new");
    QCOMPARE(second.frames.at(1)->GetStatus(), int(BCS_SUCCESS));
}

void TestTransportServer::rulesBeforeHandshake()
{
    LogCapture log;
    FakePeer peer;
    QVERIFY(peer.connectTo(m_port));
    QVERIFY(peer.waitForFrames(1));

    // An ordinary command comes back once, marked not initialised.
    const BaseCommandPtr early = request(3);
    early->SetSequence(41);
    peer.send(early);
    QVERIFY(peer.waitForFrames(2));
    QCOMPARE(peer.frames.at(1)->GetSequence(), 41u);
    QCOMPARE(peer.frames.at(1)->GetStatus(), int(BCS_NOT_INITIALIZED));

    // Session commands other than the handshake, and a rejection coming back,
    // are dropped; the handshake after them still works.
    BCI_CancelCommand cancel;
    cancel.setTargetSequence(41);
    peer.send(&cancel);
    peer.send(BaseCommandPtr(new BCI_InitComm));
    peer.send(peer.frames.at(1));
    BCI_Handshake hello;
    hello.setSessionId(QUuid::createUuid());
    peer.send(&hello);
    QVERIFY(peer.waitForFrames(3));
    QVERIFY(command_cast<BCI_Handshake>(peer.frames.at(2)));
    QCOMPARE(log.count("ServiceIOServer::OnProtocolCommand(): socket is not in our permanent list, "
                       "dropping incoming protocol command"),
             2);
    QCOMPARE(log.count("ServiceIO::OnNewData(): Received BCS_NOT_INITIALIZED from remote side"), 1);
    QVERIFY(m_echo->received.isEmpty());

    peer.socket()->disconnectFromHost();
    QTRY_COMPARE(log.count("ServiceIOServer::OnDisconnect(): client " +
                           hello.sessionId().toString() + " disconnected"),
                 1);
}

void TestTransportServer::rulesAfterHandshake_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("expected");

    QTest::newRow("second handshake")
        << int(BCI_Handshake::TypeId) << int(BCS_SUCCESS) << int(BCS_NULL_COMMAND);
    QTest::newRow("version 7 handshake")
        << int(BCI_Handshake::TypeId) << 7 << int(BCS_NULL_COMMAND);
    QTest::newRow("init from a client")
        << int(BCI_InitComm::TypeId) << int(BCS_SUCCESS) << int(BCS_UNSUPPORTED);
    // Our own rejection coming back is not answered again.
    QTest::newRow("returned rejection") << int(BCI_Handshake::TypeId) << int(BCS_NULL_COMMAND) << 0;
}

void TestTransportServer::rulesAfterHandshake()
{
    QFETCH(int, type);
    QFETCH(int, status);
    QFETCH(int, expected);

    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    const BaseCommandPtr cmd = BaseCommand::GetCmd(type);
    if (status == 7)
        static_cast<BCI_Handshake*>(cmd.data())->setVersion(7);
    else
        cmd->SetStatus(status);
    peer->send(cmd);
    // A request behind it shows, by what arrives first, whether anything was answered.
    const BaseCommandPtr marker = request(5);
    marker->SetSequence(77);
    peer->send(marker);
    QVERIFY(peer->waitForFrames(3));
    const BaseCommandPtr first = peer->frames.at(2);
    if (expected == 0) {
        QCOMPARE(first->GetSequence(), 77u);
    } else {
        QCOMPARE(int(first->GetType()), type);
        QCOMPARE(first->GetStatus(), expected);
        QVERIFY(peer->waitForFrames(4));
        QCOMPARE(peer->frames.at(3)->GetSequence(), 77u);
    }
}

void TestTransportServer::repliesAndBroadcastsAreRouted()
{
    // A broadcast while nobody is authenticated reaches nobody and is not kept.
    QCOMPARE(m_server->SendCommand(broadcast(1), 10000), 0);

    const std::unique_ptr<FakePeer> a = authenticated();
    const std::unique_ptr<FakePeer> b = authenticated();
    QVERIFY(a && b);

    const BaseCommandPtr ask = request(21);
    ask->SetSequence(5);
    a->send(ask);
    QVERIFY(a->waitForFrames(3));
    const BaseCommandPtr reply = a->frames.at(2);
    QCOMPARE(reply->GetSequence(), 5u);
    QCOMPARE(reply->GetStatus(), int(BCS_SUCCESS));
    QCOMPARE(answerOf(reply), 42);

    QCOMPARE(m_server->SendCommand(broadcast(2), 10000), 0);
    QVERIFY(a->waitForFrames(4));
    QVERIFY(b->waitForFrames(3));
    for (FakePeer* peer : {a.get(), b.get()}) {
        const BCI_BWCSpeedTest* seen = command_cast<BCI_BWCSpeedTest>(peer->frames.last());
        QVERIFY(seen);
        QCOMPARE(seen->result0(), 2);
        QVERIFY(seen->GetSequence() != 0);
    }
    QCOMPARE(b->frames.size(), 3);
    QCOMPARE(m_server->SendCommand(BaseCommandPtr(), 10000), int(BCS_NULL_COMMAND));
}

void TestTransportServer::cancel_data()
{
    QTest::addColumn<bool>("byOwner");
    QTest::addColumn<bool>("knownSequence");
    QTest::addColumn<int>("expected");

    QTest::newRow("own pending request") << true << true << int(BCS_SUCCESS);
    QTest::newRow("unknown sequence") << true << false << int(BCS_INVALID);
    QTest::newRow("another client's request") << false << true << int(BCS_INVALID);
}

void TestTransportServer::cancel()
{
    QFETCH(bool, byOwner);
    QFETCH(bool, knownSequence);
    QFETCH(int, expected);

    m_echo->claim = false;
    const std::unique_ptr<FakePeer> owner = authenticated();
    const std::unique_ptr<FakePeer> other = authenticated();
    QVERIFY(owner && other);
    const BaseCommandPtr ask = request(8);
    ask->SetSequence(9);
    owner->send(ask);
    QTRY_COMPARE(m_echo->received.size(), 1);

    FakePeer* canceller = byOwner ? owner.get() : other.get();
    BCI_CancelCommand cancel;
    cancel.setTargetSequence(knownSequence ? 9 : 10);
    canceller->send(&cancel);
    QVERIFY(canceller->waitForFrames(3));
    const BCI_CancelCommand* answer = command_cast<BCI_CancelCommand>(canceller->frames.at(2));
    QVERIFY(answer);
    QCOMPARE(answer->targetSequence(), cancel.targetSequence());
    QCOMPARE(answer->GetStatus(), expected);

    // A withdrawn request is gone from the owner's receive queue.
    BaseCommandPtr held = m_echo->received.first();
    QCOMPARE(m_server->RetrieveCommand(&held), expected == BCS_SUCCESS ? int(BCS_WRITE_FAILED) : 0);
}

void TestTransportServer::badInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("survives");
    QTest::addColumn<int>("answers");

    const QByteArray ask = frameOf(request(4).data());
    BaseCommandPtr second = request(6);
    second->SetSequence(2);
    const QByteArray two = ask + frameOf(second.data());

    QTest::newRow("unknown type is skipped")
        << prefix(24, 0x8018) + QByteArray(16, 'z') + ask << true << 1;
    QTest::newRow("two frames in one segment") << two << true << 2;
    // Its missing status reads as 0, so it is kept but not signalled; the
    // request behind it has the same number and takes its place.
    QTest::newRow("frame of 12 bytes")
        << prefix(12, 0x800C) + QByteArray(4, '\0') + ask << true << 1;
    QTest::newRow("length 11") << prefix(11, 0x800C) + QByteArray(3, '\0') << false << 0;
    QTest::newRow("length 100001") << prefix(100001, 0x800C) << false << 0;
    QTest::newRow("garbage") << QByteArray("\xff\xff\xff\xff this is not a frame") << false << 0;
}

void TestTransportServer::badInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, survives);
    QFETCH(int, answers);

    LogCapture quiet;
    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    peer->sendRaw(bytes);
    if (survives) {
        QVERIFY(peer->waitForFrames(2 + answers));
        QCOMPARE(peer->socket()->state(), QAbstractSocket::ConnectedState);
    } else {
        QVERIFY(peer->waitForDisconnect());
        QCOMPARE(peer->frames.size(), 2);
    }
    // Other clients are served all along.
    const std::unique_ptr<FakePeer> next = authenticated();
    QVERIFY(next);
    next->send(request(1));
    QVERIFY(next->waitForFrames(3));
}

void TestTransportServer::floodOfUnclaimedRequestsIsRefused()
{
    LogCapture quiet;
    m_echo->claim = false;
    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    const int extra = 40;
    QByteArray flood;
    for (int i = 1; i <= ServiceIO::MaxUnclaimedPerPeer + extra; ++i) {
        BaseCommandPtr cmd = request(quint32(i));
        cmd->SetSequence(quint32(i));
        flood += frameOf(cmd.data());
    }
    peer->sendRaw(flood);
    QVERIFY(peer->waitForFrames(2 + extra, 20000));
    for (int i = 2; i < peer->frames.size(); ++i)
        QCOMPARE(peer->frames.at(i)->GetStatus(), int(BCS_SEND_FAILED));
    QTRY_COMPARE(m_echo->received.size(), ServiceIO::MaxUnclaimedPerPeer);

    // Repeating a held request replaces it rather than adding to the pile.
    BaseCommandPtr again = request(1);
    again->SetSequence(1);
    peer->send(again);
    QTRY_COMPARE(m_echo->received.size(), ServiceIO::MaxUnclaimedPerPeer + 1);
    QCOMPARE(peer->frames.size(), 2 + extra);
}

void TestTransportServer::peerThatStopsReadingIsCutOff()
{
    LogCapture log;
    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    // The peer's socket stops taking bytes off the connection.
    peer->socket()->setReadBufferSize(64);
    peer->socket()->disconnect();

    const BWCEntryPtr entry(new BWCEntry);
    entry->path = QString(40000, QLatin1Char('x'));
    const QString cutOff = "ServiceIOServer::WriteToSocket(): peer is not reading";
    for (int i = 0; i < 2000 && log.countStartingWith(cutOff) == 0; ++i) {
        auto* added = new BCI_BWCAppAdded;
        added->setEntry(entry);
        QCOMPARE(m_server->SendCommand(BaseCommandPtr(added), 10000), 0);
        QTest::qWait(1);
    }
    QTRY_COMPARE(log.countStartingWith(cutOff), 1);
}

QTEST_MAIN(TestTransportServer)
#include "tst_transport_server.moc"
