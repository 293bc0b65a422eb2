// The client and the server made by the factory, each against a raw socket
// that plays the other side, then both together in one process.

#include "clientpolicy.h"
#include "commands.h"
#include "framecodec.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "serviceioserver.h"

#include <QDir>
#include <QHostAddress>
#include <QSet>
#include <QTcpServer>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// An IsProcessGame request; the stand-in service answers with processId * 2.
BaseCommandPtr request(quint32 processId, quint32 sequence = 0)
{
    auto* cmd = new BCI_IsProcessGame;
    cmd->setProcessId(processId);
    cmd->SetSequence(sequence);
    return BaseCommandPtr(cmd);
}

quint32 processIdOf(const BaseCommandPtr& cmd)
{
    const BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd);
    return game ? game->processId() : 0;
}

qint32 answerOf(const BaseCommandPtr& cmd)
{
    const BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd);
    return game ? game->answer() : -1;
}

BaseCommandPtr replyTo(const BaseCommandPtr& ask)
{
    BaseCommandPtr reply = request(processIdOf(ask), ask->GetSequence());
    command_cast<BCI_IsProcessGame>(reply)->setAnswer(qint32(processIdOf(ask) * 2));
    return reply;
}

BaseCommandPtr broadcast(qint32 value)
{
    auto* cmd = new BCI_BWCSpeedTest;
    cmd->setResult0(value);
    return BaseCommandPtr(cmd);
}

BaseCommandPtr handshake(const QUuid& session)
{
    auto* cmd = new BCI_Handshake;
    cmd->setSessionId(session);
    return BaseCommandPtr(cmd);
}

QByteArray frameOf(const BaseCommandPtr& cmd)
{
    QByteArray frame;
    FrameCodec::encode(cmd.data(), &frame);
    return frame;
}

// A peer on a plain socket in the test thread: writes exact bytes and parses
// whatever arrives into frames.
class FakePeer : public QObject
{
public:
    explicit FakePeer(QTcpSocket* accepted = nullptr)
        : socket(accepted ? accepted : new QTcpSocket(this))
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, &FakePeer::drain);
    }
    void drain()
    {
        m_buffer += socket->readAll();
        BaseCommandPtr cmd;
        qint64 used = 0;
        while (FrameCodec::decode(m_buffer, &cmd, &used) == 0) {
            frames << cmd;
            m_buffer.remove(0, used);
        }
    }
    // Stops taking bytes off the connection once a few are buffered, as a
    // peer does that writes and does not read.
    void stopReading()
    {
        socket->setReadBufferSize(4096);
        socket->blockSignals(true);
    }
    void resumeReading()
    {
        socket->blockSignals(false);
        socket->setReadBufferSize(0);
        drain();
    }
    bool connectTo(quint16 port)
    {
        socket->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        return QTest::qWaitFor([this] { return socket->state() == QTcpSocket::ConnectedState; });
    }
    void send(const BaseCommandPtr& cmd) { sendRaw(frameOf(cmd)); }
    void sendRaw(const QByteArray& bytes)
    {
        socket->write(bytes);
        socket->flush();
    }
    bool waitForFrames(int count)
    {
        return QTest::qWaitFor([this, count] { return frames.size() >= count; });
    }
    // As a client: read InitComm, propose a uuid; gives the one assigned (null: failed).
    QUuid handshake(quint16 port, const QUuid& proposed)
    {
        if (!connectTo(port) || !waitForFrames(1) || !command_cast<BCI_InitComm>(frames.first()))
            return {};
        send(::handshake(proposed));
        const BCI_Handshake* answer =
            waitForFrames(2) ? command_cast<BCI_Handshake>(frames.at(1)) : nullptr;
        return answer ? answer->sessionId() : QUuid();
    }

    QTcpSocket* const socket;
    QList<BaseCommandPtr> frames;

private:
    QByteArray m_buffer;
};

QList<BWCEntryPtr> appList()
{
    QList<BWCEntryPtr> apps;
    for (int i = 0; i < 20; ++i) {
        BWCEntryPtr entry(new BWCEntry);
        entry->id = QStringLiteral("app-%1").arg(i);
        entry->path = QStringLiteral("/usr/lib/some/longer/folder/program-%1").arg(i);
        apps.append(entry);
    }
    return apps;
}

// An owner in the test thread: claims what is delivered, as the module's owners
// do, and records it; as the service (answer) it answers with processId * 2.
class Owner : public QObject
{
public:
    explicit Owner(ServiceIO* transport, bool answer = false) : io(transport)
    {
        connect(io, &ServiceIO::NewCommandReceived, this, [this, answer](BaseCommandPtr cmd) {
            const bool claimed = claim && io && io->RetrieveCommand(&cmd) == 0;
            claimFailures += claim && !claimed;
            received << cmd;
            if (!answer || !claimed)
                return;
            if (BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd))
                game->setAnswer(qint32(game->processId() * 2));
            // A name as long as the process id asks for: replies of any size.
            if (BCI_GetProcessName* name = command_cast<BCI_GetProcessName>(cmd))
                name->setName(QString(qsizetype(name->processId()), QLatin1Char('n')));
            // A list of records made for each answer, as the service's are.
            if (BCI_BWCEnumApps* apps = command_cast<BCI_BWCEnumApps>(cmd))
                apps->setApps(appList());
            cmd->SetStatus(BCS_SUCCESS);
            io->SendCommand(cmd, 10000);
        });
        connect(io, &ServiceIO::NewBroadcastReceived, this, [this](BaseCommandPtr cmd) {
            if (io)
                io->RetrieveCommand(&cmd);
            broadcasts << cmd;
        });
        connect(io, &ServiceIO::CommandTimedOut, this, [this](BaseCommandPtr cmd) {
            if (io)
                io->RetrieveCommand(&cmd);
            timedOut << cmd;
        });
        connect(io, &ServiceIO::connected, this, [this] { ++connects; });
        connect(io, &ServiceIO::disconnected, this, [this] { ++disconnects; });
    }

    QPointer<ServiceIO> io;
    bool claim = true;
    QList<BaseCommandPtr> received, broadcasts, timedOut;
    int claimFailures = 0, connects = 0, disconnects = 0;

protected:
    bool event(QEvent* event) override
    {
        if (io)
            io->SynchronizeDelivery();
        return QObject::event(event);
    }
};

// An object in the client's thread. As the receiver a request names for its
// time-out it keeps what it gets under a lock; it can also keep the thread
// busy until the thread is asked to end. Its slots are invoked by name, so
// that the queued calls are made only of what Qt allocates itself.
class InClientThread : public QObject
{
    Q_OBJECT
public slots:
    void onTimedOut(BaseCommandPtr cmd)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_got << cmd;
    }
    void holdUntilAskedToEnd()
    {
        while (!QThread::currentThread()->isInterruptionRequested())
            QThread::msleep(1);
    }

public:
    QList<BaseCommandPtr> got()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_got;
    }

private:
    std::mutex m_mutex;
    QList<BaseCommandPtr> m_got;
};

// Clients are whoever the test says as they connect; only a privileged one may stop the service.
class StandInPolicy : public ClientPolicy
{
public:
    ClientIdentity identify(const QTcpSocket&) const override
    {
        ClientIdentity identity;
        identity.known = true;
        identity.user = user.load();
        identity.privileged = privileged.load();
        identity.description = QStringLiteral("user %1").arg(identity.user);
        return identity;
    }
    bool admits(const ClientIdentity& client, BaseCommand* request) const override
    {
        if (client.privileged || !command_cast<BCI_BWCStop>(request))
            return true;
        request->SetStatus(BCS_UNSUPPORTED);
        return false;
    }

    std::atomic<quint32> user{1000};
    std::atomic<bool> privileged{false};
};

// Pipelined requests: IsProcessGame, or GetProcessName with replies of size bytes.
QByteArray pipeline(int count, int size = 0)
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i) {
        BaseCommandPtr cmd = size ? BaseCommandPtr(new BCI_GetProcessName) : request(quint32(i));
        if (size)
            command_cast<BCI_GetProcessName>(cmd)->setProcessId(quint32(size / 2));
        cmd->SetSequence(quint32(i));
        bytes += frameOf(cmd);
    }
    return bytes;
}

// Whether the frames after the handshake answer sequences 1..count once each.
bool answeredOnce(const QList<BaseCommandPtr>& frames, int count)
{
    QSet<quint32> seen;
    for (const BaseCommandPtr& frame : frames.mid(2)) {
        if (frame->GetStatus() != BCS_SUCCESS || seen.contains(frame->GetSequence()))
            return false;
        seen.insert(frame->GetSequence());
    }
    return seen.size() == count && seen.contains(1) && seen.contains(quint32(count));
}

} // namespace

class TestTransport : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void serverAssignsUuids_data();
    void serverAssignsUuids();
    void clientHandshake();
    void sessionRules_data();
    void sessionRules();
    void serverCancel_data();
    void serverCancel();
    void badInput_data();
    void badInput();
    void clientTimeouts();
    void timeoutReachesItsReceiver();
    void nothingIsWrittenAfterRelease();
    void blockingWaitForReply();
    void remoteCancelFromOwnerThread_data();
    void remoteCancelFromOwnerThread();

    void requestsRepliesAndBroadcasts();
    void serverGoesAwayAndComesBack();
    void manyClientsLeaveNothingBehind();

    void floodWaitsForTheOwner();
    void lateReaderIsSlowedNotCut();
    void clientWithThousandsInFlightGetsEveryAnswer();
    void peerThatStopsReadingIsCutOff();
    void floodersThatLeaveTakeTheirRepliesAlong();
    void clientIsKnownFromItsAccept();
    void oneUserHasOneShareOfTheService();
    void peersThatHangAreClosed();
    void connectionsAreCapped();

private:
    // The server, with the stand-in service, on a fresh port set as BWC_PORT.
    bool startServer()
    {
        if (m_port == 0) {
            QTcpServer probe;
            probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
            m_port = probe.serverPort();
            qputenv("BWC_PORT", QByteArray::number(m_port));
        }
        m_server = CreateServiceIO(true);
        if (m_server)
            m_service = std::make_unique<Owner>(m_server, true);
        return m_server && m_server->IsServer();
    }
    // The server's thread ends first: what it still posted to the service is
    // then dropped after all it did, as a thread checker can see.
    void stopServer()
    {
        if (m_server)
            m_server->Release();
        m_server = nullptr;
        m_service.reset();
    }
    // A raw client that got InitComm, and one that completed the handshake.
    std::unique_ptr<FakePeer> connected()
    {
        auto peer = std::make_unique<FakePeer>();
        return peer->connectTo(m_port) && peer->waitForFrames(1) ? std::move(peer) : nullptr;
    }
    std::unique_ptr<FakePeer> authenticated()
    {
        auto peer = std::make_unique<FakePeer>();
        const QUuid proposed = QUuid::createUuid();
        return peer->handshake(m_port, proposed) == proposed ? std::move(peer) : nullptr;
    }
    // A client, with an owner, against a raw listener set as BWC_PORT.
    bool startClient()
    {
        if (!m_listener.listen(QHostAddress(QHostAddress::LocalHost), 0))
            return false;
        qputenv("BWC_PORT", QByteArray::number(m_listener.serverPort()));
        m_client = CreateServiceIO(false);
        if (m_client)
            m_owner = std::make_unique<Owner>(m_client);
        return m_client && !m_client->IsServer();
    }
    std::unique_ptr<FakePeer> accept()
    {
        if (!m_listener.hasPendingConnections() && !m_listener.waitForNewConnection(5000))
            return nullptr;
        return std::make_unique<FakePeer>(m_listener.nextPendingConnection());
    }
    // Sends InitComm on the peer given (else on the next connection); the
    // client's Handshake is then frames.first().
    std::unique_ptr<FakePeer> greeted(std::unique_ptr<FakePeer> peer = nullptr)
    {
        if (!peer && !(peer = accept()))
            return nullptr;
        peer->send(BaseCommandPtr(new BCI_InitComm));
        const bool answered =
            peer->waitForFrames(1) && command_cast<BCI_Handshake>(peer->frames.first());
        return answered ? std::move(peer) : nullptr;
    }
    // The same, and completes the session.
    std::unique_ptr<FakePeer> online(std::unique_ptr<FakePeer> peer = nullptr)
    {
        if ((peer = greeted(std::move(peer))))
            peer->send(handshake(QUuid::createUuid()));
        return peer;
    }

    quint16 m_port = 0;
    ServiceIO* m_server = nullptr;
    std::unique_ptr<Owner> m_service;
    QTcpServer m_listener;
    ServiceIO* m_client = nullptr;
    std::unique_ptr<Owner> m_owner;
};

void TestTransport::cleanup()
{
    ServiceIOServer::SetClientPolicy(nullptr);
    if (m_client)
        m_client->Release();
    m_client = nullptr;
    m_owner.reset();
    m_listener.close();
    stopServer();
    m_port = 0;
}

void TestTransport::serverAssignsUuids_data()
{
    QTest::addColumn<QString>("proposal");
    QTest::newRow("a new uuid is kept") << "new";
    QTest::newRow("a null uuid is replaced") << "null";
    QTest::newRow("a uuid in use is replaced") << "taken";
}

void TestTransport::serverAssignsUuids()
{
    QFETCH(QString, proposal);
    QVERIFY(startServer());
    FakePeer first, second;
    const QUuid existing = first.handshake(m_port, QUuid::createUuid());
    QVERIFY(!existing.isNull());
    const QUuid proposed = proposal == "new"    ? QUuid::createUuid()
                           : proposal == "null" ? QUuid()
                                                : existing;
    const QUuid assigned = second.handshake(m_port, proposed);
    QVERIFY(!assigned.isNull() && assigned != existing);
    QCOMPARE(assigned == proposed, proposal == "new");
    QCOMPARE(second.frames.at(1)->GetStatus(), int(BCS_SUCCESS));
}

void TestTransport::clientHandshake()
{
    QVERIFY(startClient());
    QCOMPARE(m_client->SendCommand(request(1), 10000), 0);
    std::unique_ptr<FakePeer> peer = greeted();
    QVERIFY(peer);
    const BaseCommandPtr proposal = peer->frames.first();
    QVERIFY(!command_cast<BCI_Handshake>(proposal)->sessionId().isNull());
    QCOMPARE(proposal->GetSequence(), 0u);
    // The request waits until the service's Handshake arrives.
    QTest::qWait(50);
    QCOMPARE(peer->frames.size(), 1);
    const QUuid assigned = QUuid::createUuid();
    peer->send(handshake(assigned));
    QVERIFY(peer->waitForFrames(2));
    QCOMPARE(processIdOf(peer->frames.at(1)), 1u);
    QCOMPARE(peer->frames.at(1)->GetStatus(), int(BCS_QUEUED));

    // Back after a dropped connection, the client proposes the uuid it was given.
    peer.reset();
    peer = greeted();
    QVERIFY(peer);
    QCOMPARE(command_cast<BCI_Handshake>(peer->frames.first())->sessionId(), assigned);
}

void TestTransport::sessionRules_data()
{
    QTest::addColumn<bool>("server");
    QTest::addColumn<bool>("afterHandshake");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("expected"); // 0: nothing comes back

    const auto row = [](const char* name, bool server, bool after, int type, int status,
                        int expected) {
        QTest::newRow(name) << server << after << type << status << expected;
    };
    const int game = BCI_IsProcessGame::TypeId, init = BCI_InitComm::TypeId;
    const int hello = BCI_Handshake::TypeId, cancel = BCI_CancelCommand::TypeId;
    row("client: cancel before handshake", false, false, cancel, BCS_SUCCESS, BCS_UNSUPPORTED);
    row("client: command before handshake", false, false, game, BCS_SUCCESS, BCS_NOT_INITIALIZED);
    row("client: second handshake", false, true, hello, BCS_SUCCESS, BCS_NULL_COMMAND);
    row("client: init after handshake", false, true, init, BCS_SUCCESS, BCS_NULL_COMMAND);
    row("client: cancel answer after handshake", false, true, cancel, BCS_INVALID, 0);
    row("client: returned rejection", false, true, init, BCS_NULL_COMMAND, 0);
    row("server: command before handshake", true, false, game, BCS_SUCCESS, BCS_NOT_INITIALIZED);
    row("server: returned rejection before", true, false, game, BCS_NOT_INITIALIZED, 0);
    row("server: init before handshake", true, false, init, BCS_SUCCESS, 0);
    row("server: cancel before handshake", true, false, cancel, BCS_SUCCESS, 0);
    row("server: second handshake", true, true, hello, BCS_SUCCESS, BCS_NULL_COMMAND);
    row("server: init after handshake", true, true, init, BCS_SUCCESS, BCS_UNSUPPORTED);
    row("server: returned rejection after", true, true, hello, BCS_NULL_COMMAND, 0);
}

void TestTransport::sessionRules()
{
    QFETCH(bool, server);
    QFETCH(bool, afterHandshake);
    QFETCH(int, type);
    QFETCH(int, status);
    QFETCH(int, expected);

    QVERIFY(server ? startServer() : startClient());
    const std::unique_ptr<FakePeer> peer = server ? (afterHandshake ? authenticated() : connected())
                                                  : (afterHandshake ? online() : accept());
    QVERIFY(peer);
    const int before = int(peer->frames.size());
    const BaseCommandPtr cmd = BaseCommand::GetCmd(type);
    cmd->SetSequence(12);
    cmd->SetStatus(status);
    peer->send(cmd);
    // The first frame back tells whether cmd was answered: this one always is.
    const BaseCommandPtr marker =
        server ? request(5)
               : BaseCommand::GetCmd(afterHandshake ? BCI_InitComm::TypeId
                                                    : BCI_CancelCommand::TypeId);
    marker->SetSequence(77);
    peer->send(marker);
    QVERIFY(peer->waitForFrames(before + 1));
    const BaseCommandPtr first = peer->frames.at(before);
    QCOMPARE(first->GetSequence(), expected == 0 ? 77u : 12u);
    if (expected != 0) {
        QCOMPARE(int(first->GetType()), type);
        QCOMPARE(first->GetStatus(), expected);
    }
    QVERIFY(server || m_owner->received.isEmpty());
    if (!server || afterHandshake)
        return;
    // The handshake still works after all that, and nothing was delivered.
    const int answered = before + (expected == 0 ? 1 : 2);
    QVERIFY(peer->waitForFrames(answered));
    peer->send(handshake(QUuid::createUuid()));
    QVERIFY(peer->waitForFrames(answered + 1));
    QVERIFY(command_cast<BCI_Handshake>(peer->frames.at(answered)));
    QVERIFY(m_service->received.isEmpty());
}

void TestTransport::serverCancel_data()
{
    QTest::addColumn<bool>("byOwner");
    QTest::addColumn<quint32>("target");
    QTest::addColumn<int>("expected");

    QTest::newRow("own pending request") << true << 9u << int(BCS_SUCCESS);
    QTest::newRow("unknown sequence") << true << 10u << int(BCS_INVALID);
    QTest::newRow("another client's request") << false << 9u << int(BCS_INVALID);
}

void TestTransport::serverCancel()
{
    QFETCH(bool, byOwner);
    QFETCH(quint32, target);
    QFETCH(int, expected);

    QVERIFY(startServer());
    m_service->claim = false;
    const std::unique_ptr<FakePeer> owner = authenticated();
    const std::unique_ptr<FakePeer> other = authenticated();
    QVERIFY(owner && other);
    owner->send(request(8, 9));
    QTRY_COMPARE(m_service->received.size(), 1);

    FakePeer* canceller = byOwner ? owner.get() : other.get();
    auto* cancel = new BCI_CancelCommand;
    cancel->setTargetSequence(target);
    canceller->send(BaseCommandPtr(cancel));
    QVERIFY(canceller->waitForFrames(3));
    const BCI_CancelCommand* answer = command_cast<BCI_CancelCommand>(canceller->frames.at(2));
    QVERIFY(answer);
    QCOMPARE(answer->targetSequence(), target);
    QCOMPARE(answer->GetStatus(), expected);
    // A withdrawn request is gone from the owner's receive queue.
    BaseCommandPtr held = m_service->received.first();
    QCOMPARE(m_server->RetrieveCommand(&held), expected == BCS_SUCCESS ? int(BCS_WRITE_FAILED) : 0);
}

void TestTransport::badInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("bytewise");
    QTest::addColumn<int>("answers"); // -1: the connection is dropped

    const auto prefix = [](quint32 length, quint32 type) {
        QByteArray bytes(8, '\0');
        qToBigEndian<quint32>(length, bytes.data());
        qToBigEndian<quint32>(type, bytes.data() + 4);
        return bytes;
    };
    const QByteArray ask = frameOf(request(4));
    const QByteArray two = ask + frameOf(request(6, 2));
    QTest::newRow("split into single bytes") << two << true << 2;
    QTest::newRow("two frames in one segment") << two << false << 2;
    QTest::newRow("unknown type is skipped")
        << prefix(24, 0x8018) + QByteArray(16, 'z') + ask << false << 1;
    // Its missing status reads as 0 (a placeholder); the request behind replaces it.
    QTest::newRow("frame of 12 bytes")
        << prefix(12, 0x800C) + QByteArray(4, '\0') + ask << false << 1;
    QTest::newRow("length 11") << prefix(11, 0x800C) + QByteArray(3, '\0') + ask << false << -1;
    QTest::newRow("length 100001") << prefix(100001, 0x800C) + ask << false << -1;
    QTest::newRow("garbage") << QByteArray("\xff\xff\xff\xff not a frame") + ask << false << -1;
}

void TestTransport::badInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, bytewise);
    QFETCH(int, answers);

    QVERIFY(startServer());
    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    for (qsizetype at = 0; bytewise && at < bytes.size(); ++at) {
        peer->sendRaw(bytes.mid(at, 1));
        QTest::qWait(1);
    }
    if (!bytewise)
        peer->sendRaw(bytes);
    if (answers >= 0) {
        QVERIFY(peer->waitForFrames(2 + answers));
        QCOMPARE(answerOf(peer->frames.last()), answers == 2 ? 12 : 8);
        QCOMPARE(peer->socket->state(), QTcpSocket::ConnectedState);
    } else {
        QTRY_COMPARE(peer->socket->state(), QTcpSocket::UnconnectedState);
        QCOMPARE(peer->frames.size(), 2);
    }
    // Other clients are served all along.
    const std::unique_ptr<FakePeer> next = authenticated();
    QVERIFY(next);
    next->send(request(1));
    QVERIFY(next->waitForFrames(3));
}

void TestTransport::clientTimeouts()
{
    QVERIFY(startClient());
    // Before the handshake a request times out without a byte on the wire.
    std::unique_ptr<FakePeer> peer = accept();
    QVERIFY(peer);
    BaseCommandPtr early = request(5);
    QCOMPARE(m_client->SendCommand(early, 100), 0);
    QTRY_COMPARE(m_owner->timedOut.size(), 1);
    QCOMPARE(early->GetStatus(), int(BCS_TIMED_OUT));
    QCOMPARE(m_client->RetrieveCommand(&early), int(BCS_WRITE_FAILED));
    peer = online(std::move(peer));
    QVERIFY(peer);

    // An answered request's timer stops; an unanswered one, due later, is
    // cancelled on the wire. The answer has to come in time: 2 s leaves room
    // for a loaded machine (or the thread checker) to keep this thread waiting.
    BaseCommandPtr answered = request(6);
    BaseCommandPtr ignored = request(7);
    QCOMPARE(m_client->SendCommand(answered, 2000), 0);
    QCOMPARE(m_client->SendCommand(ignored, 2300), 0);
    QVERIFY(peer->waitForFrames(3));
    QCOMPARE(processIdOf(peer->frames.at(1)), 6u);
    peer->send(replyTo(peer->frames.at(1)));
    QVERIFY(peer->waitForFrames(4));
    const BCI_CancelCommand* cancel = command_cast<BCI_CancelCommand>(peer->frames.at(3));
    QVERIFY(cancel);
    const quint32 target = peer->frames.at(2)->GetSequence();
    QCOMPARE(cancel->targetSequence(), target);
    QVERIFY(cancel->GetSequence() != 0 && cancel->GetSequence() != target);

    QTRY_COMPARE(m_owner->timedOut.size(), 2);
    QCOMPARE(m_owner->timedOut.last(), ignored);
    QCOMPARE(m_owner->received.size(), 1);
    QCOMPARE(m_client->RetrieveCommand(&ignored), int(BCS_WRITE_FAILED));
    QCOMPARE(peer->frames.size(), 4);
}

void TestTransport::timeoutReachesItsReceiver()
{
    // Made before the client's thread starts, which orders it before that
    // thread's use of it in terms a thread checker can follow.
    auto* receiver = new InClientThread;
    QVERIFY(startClient());
    receiver->moveToThread(m_client->thread());
    const BaseCommandPtr ask = request(3);
    QCOMPARE(m_client->SendCommand(ask, 50, receiver, SLOT(onTimedOut(BaseCommandPtr))), 0);
    QTRY_COMPARE(m_owner->timedOut.size(), 1);
    QTRY_COMPARE(receiver->got().size(), 1);
    QCOMPARE(receiver->got().first(), ask);
    // Its thread ends first; then nothing else uses the receiver.
    m_client->Release();
    m_client = nullptr;
    delete receiver;
}

void TestTransport::nothingIsWrittenAfterRelease()
{
    auto* blocker = new InClientThread; // before the client's thread, as above
    QVERIFY(startClient());
    const std::unique_ptr<FakePeer> peer = online();
    QVERIFY(peer);
    // The client's thread is kept busy until it is asked to end, so the
    // requests are still queued, with their notices posted, when the owner lets go.
    blocker->moveToThread(m_client->thread());
    QMetaObject::invokeMethod(blocker, "holdUntilAskedToEnd", Qt::QueuedConnection);
    for (quint32 i = 1; i <= 5; ++i)
        QCOMPARE(m_client->SendCommand(request(i), 10000), 0);
    m_client->Release();
    m_client = nullptr;
    delete blocker;
    QTRY_COMPARE(peer->socket->state(), QTcpSocket::UnconnectedState);
    QCOMPARE(peer->frames.size(), 1);
}

void TestTransport::blockingWaitForReply()
{
    QVERIFY(startClient());
    // The wait starts before the request is written (a written one would be
    // found at once, still without its reply); the reply ends it.
    BaseCommandPtr waited = request(7);
    QCOMPARE(m_client->SendCommand(waited, 10000), 0);
    int result = 1;
    std::atomic<bool> waiting{false};
    std::thread waiter([&] {
        waiting = true;
        result = m_client->WaitForCommand(&waited, 10000);
    });
    while (!waiting)
        std::this_thread::yield();
    const std::unique_ptr<FakePeer> peer = online();
    const bool written = peer && peer->waitForFrames(2);
    if (written)
        peer->send(replyTo(peer->frames.at(1)));
    waiter.join();
    QVERIFY(written);
    QCOMPARE(result, 0);
    QCOMPARE(answerOf(waited), 14);

    // A reply that never comes ends the wait with a time-out.
    BaseCommandPtr never = request(8, 4242);
    QCOMPARE(m_client->WaitForCommand(&never, 30), int(BCS_TIMED_OUT));
}

void TestTransport::remoteCancelFromOwnerThread_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("expected");

    QTest::newRow("service withdrew it") << int(BCS_SUCCESS) << 0;
    QTest::newRow("service could not") << int(BCS_INVALID) << int(BCS_NOT_INITIALIZED);
    // 0: the connection dropped before the cancel; nothing is written, nothing waited for.
    QTest::newRow("connection gone") << 0 << int(BCS_NOT_INITIALIZED);
}

void TestTransport::remoteCancelFromOwnerThread()
{
    QFETCH(int, answer);
    QFETCH(int, expected);

    QVERIFY(startClient());
    const std::unique_ptr<FakePeer> peer = online();
    QVERIFY(peer);
    BaseCommandPtr ask = request(9);
    QCOMPARE(m_client->SendCommand(ask, 10000), 0);
    QVERIFY(peer->waitForFrames(2));
    if (answer == 0) {
        QTRY_COMPARE_WITH_TIMEOUT(m_owner->connects, 1, 3000);
        peer->socket->abort();
        QTRY_COMPARE(m_owner->disconnects, 1);
    }

    int result = 1;
    std::thread canceller([&] { result = m_client->CancelCommand(ask); });
    const bool heard = answer != 0 && peer->waitForFrames(3) &&
                       command_cast<BCI_CancelCommand>(peer->frames.at(2));
    if (heard) {
        peer->frames.at(2)->SetStatus(answer);
        peer->send(peer->frames.at(2));
    }
    canceller.join();
    QVERIFY(heard == (answer != 0));
    QCOMPARE(result, expected);
    // Withdrawn, the request is forgotten; otherwise its placeholder still waits.
    QCOMPARE(m_client->RetrieveCommand(&ask), expected == 0 ? int(BCS_WRITE_FAILED) : 0);
}

void TestTransport::requestsRepliesAndBroadcasts()
{
    QVERIFY(startServer());
    // The server is shared: a second acquisition gives the same one.
    ServiceIO* again = CreateServiceIO(true);
    QCOMPARE(again, m_server);
    again->Release();
    // A broadcast while nobody is authenticated reaches nobody and is not kept;
    // a peer that never completes the handshake gets nothing but InitComm.
    QCOMPARE(m_server->SendCommand(broadcast(1), 10000), 0);
    const std::unique_ptr<FakePeer> silent = connected();
    QVERIFY(silent);

    ServiceIO* first = CreateServiceIO(false);
    ServiceIO* second = CreateServiceIO(false);
    QVERIFY(first && second && first != second);
    Owner a(first);
    Owner b(second);
    for (quint32 i = 1; i <= 5; ++i) {
        QCOMPARE(first->SendCommand(request(i), 10000), 0);
        QCOMPARE(second->SendCommand(request(100 + i), 10000), 0);
    }
    QTRY_COMPARE(a.received.size(), 5);
    QTRY_COMPARE(b.received.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(processIdOf(a.received.at(i)), quint32(i + 1));
        QCOMPARE(answerOf(a.received.at(i)), (i + 1) * 2);
        QCOMPARE(processIdOf(b.received.at(i)), quint32(101 + i));
        QCOMPARE(a.received.at(i)->GetStatus(), int(BCS_SUCCESS));
    }
    QCOMPARE(a.claimFailures + b.claimFailures, 0);

    QCOMPARE(m_server->SendCommand(broadcast(7), 10000), 0);
    QCOMPARE(m_server->SendCommand(broadcast(8), 10000), 0);
    QTRY_COMPARE(a.broadcasts.size(), 2);
    QTRY_COMPARE(b.broadcasts.size(), 2);
    QCOMPARE(command_cast<BCI_BWCSpeedTest>(a.broadcasts.at(0))->result0(), 7);
    QCOMPARE(command_cast<BCI_BWCSpeedTest>(b.broadcasts.at(1))->result0(), 8);
    QCOMPARE(a.received.size(), 5);
    QCOMPARE(silent->frames.size(), 1);
    first->Release();
    second->Release();
}

void TestTransport::serverGoesAwayAndComesBack()
{
    QVERIFY(startServer());
    ServiceIO* client = CreateServiceIO(false);
    QVERIFY(client);
    Owner owner(client);
    QCOMPARE(client->SendCommand(request(1), 10000), 0);
    QTRY_COMPARE(owner.received.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(owner.connects, 1, 3000);
    const QUuid session = m_service->received.first()->GetUuid();

    stopServer();
    QTRY_COMPARE_WITH_TIMEOUT(owner.disconnects, 1, 3000);
    for (quint32 i = 2; i <= 6; ++i)
        QCOMPARE(client->SendCommand(request(i), 10000), 0);
    QVERIFY(startServer());
    QTRY_COMPARE_WITH_TIMEOUT(owner.received.size(), 6, 5000);
    // One more request behind them: anything sent twice would arrive before its reply.
    QCOMPARE(client->SendCommand(request(7), 10000), 0);
    QTRY_COMPARE(owner.received.size(), 7);
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(processIdOf(owner.received.at(i)), quint32(i + 1));
        QCOMPARE(owner.received.at(i)->GetStatus(), int(BCS_SUCCESS));
    }
    QCOMPARE(m_service->received.size(), 6);
    // The client came back under the session the service gave it.
    QCOMPARE(m_service->received.last()->GetUuid(), session);
    QTRY_COMPARE_WITH_TIMEOUT(owner.connects, 2, 3000);
    QCOMPARE(owner.disconnects, 1);
    client->Release();
}

void TestTransport::manyClientsLeaveNothingBehind()
{
    QVERIFY(startServer());
    const auto entries = [](const char* path) {
        return QDir(QString::fromLatin1(path)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    };
    const qsizetype threads = entries("/proc/self/task").size();
    const qsizetype descriptors = entries("/proc/self/fd").size();
    for (int i = 0; i < 500; ++i) {
        ServiceIO* client = CreateServiceIO(false);
        QVERIFY(client);
        if (i % 3 == 0)
            client->SendCommand(request(quint32(i)), 10000);
        client->Release();
    }
    // A joined thread may take a moment to leave the kernel's list, and the
    // server closes its ends of the connections as their disconnects come in.
    // A thread of an earlier test may still have been leaving when the
    // baseline was taken, so fewer than before is as good as the same.
    QTRY_VERIFY(entries("/proc/self/task").size() <= threads);
    QTRY_VERIFY_WITH_TIMEOUT(entries("/proc/self/fd").size() <= descriptors, 10000);
}

void TestTransport::floodWaitsForTheOwner()
{
    QVERIFY(startServer());
    m_service->claim = false;
    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    constexpr int Count = ServiceIO::MaxUnclaimedPerPeer + 40;
    peer->sendRaw(pipeline(Count));
    // Reading stops at the bound, and nothing is refused: the rest waits unread.
    QTRY_COMPARE(m_service->received.size(), ServiceIO::MaxUnclaimedPerPeer);
    QTest::qWait(300);
    QCOMPARE(m_service->received.size(), ServiceIO::MaxUnclaimedPerPeer);
    QCOMPARE(peer->frames.size(), 2);

    // The owner catches up; every request is then answered once.
    m_service->claim = true;
    for (BaseCommandPtr cmd : QList<BaseCommandPtr>(m_service->received)) {
        QCOMPARE(m_server->RetrieveCommand(&cmd), 0);
        command_cast<BCI_IsProcessGame>(cmd)->setAnswer(1);
        QCOMPARE(m_server->SendCommand(cmd, 10000), 0);
    }
    QTRY_COMPARE(peer->frames.size(), 2 + Count);
    QVERIFY(answeredOnce(peer->frames, Count));
    QCOMPARE(m_service->received.size(), Count);
}

void TestTransport::lateReaderIsSlowedNotCut()
{
    QVERIFY(startServer());
    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    // 300 replies of 40 kB: far more than the server buffers for one peer.
    constexpr int Count = 300;
    peer->stopReading();
    peer->sendRaw(pipeline(Count, 40000));
    QTRY_VERIFY(m_service->received.size() >= 8);
    QTest::qWait(500);
    QVERIFY(m_service->received.size() < Count);
    peer->resumeReading();
    QTRY_COMPARE_WITH_TIMEOUT(peer->frames.size(), 2 + Count, 60000);
    QVERIFY(answeredOnce(peer->frames, Count));
    QCOMPARE(peer->socket->state(), QTcpSocket::ConnectedState);
}

void TestTransport::clientWithThousandsInFlightGetsEveryAnswer()
{
    QVERIFY(startServer());
    ServiceIO* client = CreateServiceIO(false);
    QVERIFY(client);
    Owner owner(client);
    owner.claim = false;
    // 1000 requests at once, answered with 2 to 4 kB each: several read
    // buffers' worth, whose frames do not line up with the buffer's end.
    constexpr int Count = 1000;
    for (int i = 0; i < Count; ++i) {
        auto* ask = new BCI_GetProcessName;
        ask->setProcessId(quint32(1000 + i * 7 % 1000));
        QCOMPARE(client->SendCommand(BaseCommandPtr(ask), 30000), 0);
    }
    // The owner holds back until the client stops reading and its buffer
    // fills up, then catches up.
    QTRY_COMPARE(owner.received.size(), ServiceIO::MaxUnclaimedPerPeer);
    QTest::qWait(500);
    owner.claim = true;
    for (BaseCommandPtr cmd : QList<BaseCommandPtr>(owner.received))
        QCOMPARE(client->RetrieveCommand(&cmd), 0);
    QTRY_COMPARE_WITH_TIMEOUT(owner.received.size(), Count, 60000);
    QCOMPARE(owner.timedOut.size(), 0);
    QCOMPARE(owner.disconnects, 0);
    QCOMPARE(owner.claimFailures, 0);
    client->Release();
}

void TestTransport::peerThatStopsReadingIsCutOff()
{
    QVERIFY(startServer());
    const std::unique_ptr<FakePeer> peer = authenticated();
    QVERIFY(peer);
    peer->stopReading();
    // Broadcasts are not answers to anything, so nothing slows them down: a
    // peer that never reads them is let go once too many wait for it.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("peer is not reading"));
    const BWCEntryPtr entry(new BWCEntry);
    entry->path = QString(20000, QLatin1Char('x'));
    constexpr int Count = 600; // 24 MB
    for (int i = 0; i < Count; ++i) {
        auto* added = new BCI_BWCAppAdded;
        added->setEntry(entry);
        QCOMPARE(m_server->SendCommand(BaseCommandPtr(added), 10000), 0);
        if (i % 50 == 0)
            QTest::qWait(5);
    }
    // Reading again, the peer finds what was sent before the cut, then the end.
    peer->resumeReading();
    QTRY_COMPARE(peer->socket->state(), QTcpSocket::UnconnectedState);
    QVERIFY(peer->frames.size() < 2 + Count);
}

void TestTransport::floodersThatLeaveTakeTheirRepliesAlong()
{
    QVERIFY(startServer());
    // Each keeps 60 requests in flight without reading the answers, every
    // number twice (a repeated number replaces a request not yet taken), and
    // then goes without a word.
    QByteArray burst;
    for (int i = 0; i < 60; ++i) {
        const BaseCommandPtr ask(new BCI_BWCEnumApps);
        ask->SetSequence(quint32(i / 2 + 1));
        burst += frameOf(ask);
    }
    const std::unique_ptr<FakePeer> control = authenticated();
    QVERIFY(control);
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<FakePeer>> flooders;
        for (int i = 0; i < 30; ++i) {
            flooders.push_back(authenticated());
            QVERIFY(flooders.back());
            flooders.back()->stopReading();
            flooders.back()->sendRaw(burst);
        }
        const qsizetype before = control->frames.size();
        control->send(request(3, quint32(round + 1)));
        QVERIFY(control->waitForFrames(int(before) + 1));
        QCOMPARE(answerOf(control->frames.last()), 6);
        for (const auto& flooder : flooders)
            flooder->socket->abort();
    }
    QTRY_COMPARE(m_server->QueuedCount(), 0);
    control->send(request(4, 99));
    QVERIFY(control->waitForFrames(int(control->frames.size()) + 1));
    QCOMPARE(answerOf(control->frames.last()), 8);

    // Requests the owner has not taken yet go with their client too.
    m_service->claim = false;
    const std::unique_ptr<FakePeer> leaving = authenticated();
    QVERIFY(leaving);
    leaving->sendRaw(pipeline(40));
    QTRY_COMPARE(m_server->QueuedCount(), 40);
    leaving->socket->abort();
    QTRY_COMPARE(m_server->QueuedCount(), 0);
}

void TestTransport::clientIsKnownFromItsAccept()
{
    const auto policy = std::make_shared<StandInPolicy>();
    ServiceIOServer::SetClientPolicy(policy);
    QVERIFY(startServer());
    const std::unique_ptr<FakePeer> outsider = authenticated();
    QVERIFY(outsider);
    // Becoming privileged later changes nothing for a connection already accepted.
    policy->privileged = true;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused BWCStop from user 1000"));
    QTest::failOnWarning(QRegularExpression("refused"));
    for (quint32 sequence = 1; sequence <= 3; ++sequence) {
        const BaseCommandPtr stop(new BCI_BWCStop);
        stop->SetSequence(sequence);
        outsider->send(stop);
    }
    outsider->send(request(2, 4));
    QVERIFY(outsider->waitForFrames(6));
    for (int i = 2; i < 5; ++i) {
        QVERIFY(command_cast<BCI_BWCStop>(outsider->frames.at(i)));
        QCOMPARE(outsider->frames.at(i)->GetStatus(), int(BCS_UNSUPPORTED));
    }
    QCOMPARE(answerOf(outsider->frames.at(5)), 4);
    QCOMPARE(m_service->received.size(), 1);

    const std::unique_ptr<FakePeer> insider = authenticated();
    QVERIFY(insider);
    const BaseCommandPtr stop(new BCI_BWCStop);
    stop->SetSequence(1);
    insider->send(stop);
    QTRY_COMPARE(m_service->received.size(), 2);
    QVERIFY(command_cast<BCI_BWCStop>(m_service->received.last()));
}

void TestTransport::oneUserHasOneShareOfTheService()
{
    const auto policy = std::make_shared<StandInPolicy>();
    ServiceIOServer::SetClientPolicy(policy);
    QVERIFY(startServer());
    m_service->claim = false;
    // One user's connections together are read up to the user's bound.
    std::vector<std::unique_ptr<FakePeer>> peers;
    constexpr int Connections =
        ServiceIOServer::MaxInFlightPerUser / ServiceIO::MaxUnclaimedPerPeer + 1;
    for (int i = 0; i < Connections; ++i) {
        peers.push_back(authenticated());
        QVERIFY(peers.back());
        peers.back()->sendRaw(pipeline(ServiceIO::MaxUnclaimedPerPeer));
    }
    QTRY_COMPARE(m_service->received.size(), ServiceIOServer::MaxInFlightPerUser);
    QTest::qWait(300);
    QCOMPARE(m_service->received.size(), ServiceIOServer::MaxInFlightPerUser);
    // Another user is read all the same.
    policy->user = 2000;
    const std::unique_ptr<FakePeer> other = authenticated();
    QVERIFY(other);
    other->send(request(5));
    QTRY_COMPARE(m_service->received.size(), ServiceIOServer::MaxInFlightPerUser + 1);
    QCOMPARE(processIdOf(m_service->received.last()), 5u);
}

void TestTransport::peersThatHangAreClosed()
{
    QVERIFY(startServer());
    const std::unique_ptr<FakePeer> silent = connected();
    const std::unique_ptr<FakePeer> stalled = authenticated();
    const std::unique_ptr<FakePeer> idle = authenticated();
    QVERIFY(silent && stalled && idle);
    // A frame that announces 100000 bytes and never brings them.
    QByteArray start = frameOf(request(1));
    qToBigEndian<quint32>(100000, start.data());
    stalled->sendRaw(start);
    QTRY_COMPARE_WITH_TIMEOUT(silent->socket->state(), QTcpSocket::UnconnectedState, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(stalled->socket->state(), QTcpSocket::UnconnectedState, 15000);
    // A peer that completed its handshake and sent whole frames may stay idle.
    QCOMPARE(idle->socket->state(), QTcpSocket::ConnectedState);
    idle->send(request(2));
    QVERIFY(idle->waitForFrames(3));
}

void TestTransport::connectionsAreCapped()
{
    QVERIFY(startServer());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("connections open, the most"));
    std::vector<std::unique_ptr<FakePeer>> peers;
    for (int i = 0; i < ServiceIOServer::MaxConnections + 5; ++i) {
        peers.push_back(std::make_unique<FakePeer>());
        QVERIFY(peers.back()->connectTo(m_port));
    }
    // The first ones are greeted; those past the cap are closed at once.
    for (int i = 0; i < ServiceIOServer::MaxConnections; ++i)
        QVERIFY(peers[size_t(i)]->waitForFrames(1));
    for (size_t i = ServiceIOServer::MaxConnections; i < peers.size(); ++i) {
        QTRY_COMPARE(peers[i]->socket->state(), QTcpSocket::UnconnectedState);
        QVERIFY(peers[i]->frames.isEmpty());
    }
    // Once the silent ones are gone, the service takes new clients again.
    peers.clear();
    QTRY_VERIFY(authenticated() != nullptr);
}

QTEST_MAIN(TestTransport)
#include "tst_transport.moc"
