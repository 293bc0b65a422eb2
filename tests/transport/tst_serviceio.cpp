// The transport core on its own: sequence numbers, the queues' bookkeeping,
// signals, timers and result codes, through a minimal transport that lives in
// the test thread and has no socket.

#include "serviceio.h"
#include "transporttestsupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace TransportTest;

class ProbeIO : public ServiceIO
{
    Q_OBJECT
public:
    explicit ProbeIO(bool server) : m_server(server) {}

    void Release() override { delete this; }
    bool IsServer() const override { return m_server; }

    using ServiceIO::AddTimer;
    using ServiceIO::AssignSequence;
    using ServiceIO::DelTimer;
    using ServiceIO::QueueCommand;
    using ServiceIO::TakeCommand;

    void setLastSequence(quint32 value)
    {
        std::lock_guard<RecursiveLock> lock(m_sequenceLock);
        m_lastSequence = value;
    }
    BaseCommandPtr hold(quint32 sequence, bool send, const QUuid& uuid = QUuid())
    {
        BaseCommandPtr cmd = request(sequence);
        cmd->SetSequence(sequence);
        cmd->SetUuid(uuid);
        std::lock_guard<RecursiveLock> lock(send ? m_sendLock : m_recvLock);
        (send ? m_sendQueue : m_recvQueue).append(cmd);
        return cmd;
    }
    QList<BaseCommandPtr> receiveQueue()
    {
        std::lock_guard<RecursiveLock> lock(m_recvLock);
        return m_recvQueue;
    }
    int timerCount()
    {
        std::lock_guard<std::mutex> lock(m_timerLock);
        return int(m_timers.size());
    }

    QUuid owner;

protected:
    void OnQueuedToSend() override {}
    QUuid GetOwnerID(QTcpSocket*) override { return owner; }
    bool IsHandshakeComplete(QTcpSocket*) override { return true; }
    void OnProtocolCommand(QTcpSocket*, BaseCommandPtr) override {}
    void OnDisconnect() override {}

private:
    bool m_server;
};

class TimeoutReceiver : public QObject
{
    Q_OBJECT
public:
    QList<BaseCommandPtr> seen;
public slots:
    void OnTimedOut(BaseCommandPtr cmd) { seen << cmd; }
};

class TestServiceIO : public QObject
{
    Q_OBJECT
private slots:
    void sequenceNumbers_data();
    void sequenceNumbers();
    void receiveQueueReplacement_data();
    void receiveQueueReplacement();
    void receivedSignals_data();
    void receivedSignals();
    void takeKeepsWrittenRequestUnlessForced();
    void resultCodes();
    void timers();
    void waitOnTransportThreadIsRefused();
    void destructionDumpsQueues();
};

void TestServiceIO::sequenceNumbers_data()
{
    QTest::addColumn<quint32>("last");
    QTest::addColumn<QList<quint32>>("sendHeld");
    QTest::addColumn<QList<quint32>>("receiveHeld");
    QTest::addColumn<QList<quint32>>("expected");

    QTest::newRow("starts at 1") << 0u << QList<quint32>{} << QList<quint32>{}
                                 << QList<quint32>{1, 2, 3};
    QTest::newRow("skips 0 after wrap")
        << 0xFFFFFFFEu << QList<quint32>{} << QList<quint32>{} << QList<quint32>{0xFFFFFFFFu, 1, 2};
    QTest::newRow("skips held in send queue")
        << 0u << QList<quint32>{1, 3} << QList<quint32>{} << QList<quint32>{2, 4, 5};
    QTest::newRow("skips held in receive queue after wrap")
        << 0xFFFFFFFFu << QList<quint32>{} << QList<quint32>{1, 2} << QList<quint32>{3, 4, 5};
    QTest::newRow("skips held in both")
        << 4u << QList<quint32>{5} << QList<quint32>{6} << QList<quint32>{7, 8, 9};
}

void TestServiceIO::sequenceNumbers()
{
    QFETCH(quint32, last);
    QFETCH(QList<quint32>, sendHeld);
    QFETCH(QList<quint32>, receiveHeld);
    QFETCH(QList<quint32>, expected);

    ProbeIO io(false);
    io.setLastSequence(last);
    for (quint32 sequence : sendHeld)
        io.hold(sequence, true);
    for (quint32 sequence : receiveHeld)
        io.hold(sequence, false);
    QList<quint32> assigned;
    for (int i = 0; i < expected.size(); ++i) {
        const BaseCommandPtr cmd = request(0);
        io.AssignSequence(cmd);
        assigned << cmd->GetSequence();
    }
    QCOMPARE(assigned, expected);
}

void TestServiceIO::receiveQueueReplacement_data()
{
    QTest::addColumn<bool>("server");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<bool>("sameOwner");
    QTest::addColumn<int>("expectedLength");

    QTest::newRow("client reply replaces its placeholder") << false << false << true << 1;
    QTest::newRow("client broadcast leaves a request of the same number")
        << false << true << true << 2;
    QTest::newRow("server repeated request from one client") << true << false << true << 1;
    QTest::newRow("server same number from another client") << true << false << false << 2;
}

void TestServiceIO::receiveQueueReplacement()
{
    QFETCH(bool, server);
    QFETCH(bool, broadcast);
    QFETCH(bool, sameOwner);
    QFETCH(int, expectedLength);

    ProbeIO io(server);
    const QUuid first = QUuid::createUuid();
    const BaseCommandPtr queued = io.hold(7, false, server ? first : QUuid());
    queued->SetStatus(BCS_SENT);

    io.owner = sameOwner ? first : QUuid::createUuid();
    const BaseCommandPtr arriving = broadcast ? TransportTest::broadcast(1) : request(7);
    arriving->SetSequence(7);
    QVERIFY(io.QueueCommand(arriving, -1, false, nullptr, nullptr, nullptr));

    const QList<BaseCommandPtr> queue = io.receiveQueue();
    QCOMPARE(queue.size(), expectedLength);
    QCOMPARE(queue.last(), arriving);
    if (server)
        QCOMPARE(arriving->GetUuid(), io.owner);
}

void TestServiceIO::receivedSignals_data()
{
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("commands");
    QTest::addColumn<int>("broadcasts");

    QTest::newRow("reply") << false << int(BCS_SUCCESS) << 1 << 0;
    QTest::newRow("error reply") << false << int(BCS_INVALID) << 1 << 0;
    QTest::newRow("status 0 is a placeholder") << false << int(BCS_SENT) << 0 << 0;
    QTest::newRow("broadcast whatever its status") << true << int(BCS_SENT) << 0 << 1;
}

void TestServiceIO::receivedSignals()
{
    QFETCH(bool, broadcast);
    QFETCH(int, status);
    QFETCH(int, commands);
    QFETCH(int, broadcasts);

    ProbeIO io(false);
    QSignalSpy commandSpy(&io, SIGNAL(NewCommandReceived(BaseCommandPtr)));
    QSignalSpy broadcastSpy(&io, SIGNAL(NewBroadcastReceived(BaseCommandPtr)));
    const BaseCommandPtr cmd = broadcast ? TransportTest::broadcast(1) : request(1);
    cmd->SetStatus(status);
    QVERIFY(io.QueueCommand(cmd, -1, false, nullptr, nullptr, nullptr));
    QCOMPARE(commandSpy.size(), commands);
    QCOMPARE(broadcastSpy.size(), broadcasts);
    QCOMPARE(io.receiveQueue().size(), 1);
}

void TestServiceIO::takeKeepsWrittenRequestUnlessForced()
{
    ProbeIO io(false);
    const BaseCommandPtr placeholder = io.hold(3, false);
    placeholder->SetStatus(BCS_SENT);

    BaseCommandPtr probe = placeholder;
    QVERIFY(io.TakeCommand(&probe, false, false));
    QCOMPARE(probe, placeholder);
    QCOMPARE(io.receiveQueue().size(), 1);

    // A copy with the same number finds the placeholder too.
    BaseCommandPtr twin = request(3);
    twin->SetSequence(3);
    QVERIFY(io.TakeCommand(&twin, false, true));
    QCOMPARE(twin, placeholder);
    QVERIFY(io.receiveQueue().isEmpty());
}

void TestServiceIO::resultCodes()
{
    ProbeIO io(false);
    BaseCommandPtr stranger = request(1);
    stranger->SetSequence(99);
    BaseCommandPtr none;

    QCOMPARE(io.RetrieveCommand(nullptr), int(BCS_UNSUPPORTED));
    QCOMPARE(io.RetrieveCommand(&stranger), int(BCS_WRITE_FAILED));
    QCOMPARE(io.GetNextCommand(nullptr), int(BCS_UNSUPPORTED));
    QCOMPARE(io.GetNextCommand(&none), int(BCS_WRITE_FAILED));
    QCOMPARE(io.CancelCommand(BaseCommandPtr()), int(BCS_UNSUPPORTED));
    QCOMPARE(io.CancelCommand(request(1)), int(BCS_INCOMPLETE));
    QCOMPARE(io.CancelCommand(stranger), int(BCS_NOT_INITIALIZED));
    QCOMPARE(io.SendCommand(BaseCommandPtr(), 1000), int(BCS_NULL_COMMAND));

    // A command still in the send queue is found there by RetrieveCommand and
    // removed by a local cancel.
    const BaseCommandPtr queued = io.hold(5, true);
    BaseCommandPtr probe = queued;
    QCOMPARE(io.RetrieveCommand(&probe), 0);
    QCOMPARE(io.CancelCommand(queued), 0);
    QCOMPARE(io.CancelCommand(queued), int(BCS_NOT_INITIALIZED));

    const BaseCommandPtr received = io.hold(6, false);
    QCOMPARE(io.GetNextCommand(&none), 0);
    QCOMPARE(none, received);
}

void TestServiceIO::timers()
{
    ProbeIO io(false);
    TimeoutReceiver receiver;
    const BaseCommandPtr cmd = io.hold(4, true);
    io.AddTimer(cmd, 0);
    io.AddTimer(cmd, -5);
    QCOMPARE(io.timerCount(), 0);

    // A command this transport does not hold gets no timer.
    io.AddTimer(request(1), 50);
    QCOMPARE(io.timerCount(), 0);

    io.AddTimer(cmd, 20, &receiver, SLOT(OnTimedOut(BaseCommandPtr)));
    QCOMPARE(io.timerCount(), 1);
    QTRY_COMPARE(receiver.seen.size(), 1);
    QCOMPARE(receiver.seen.first(), cmd);
    QCOMPARE(cmd->GetStatus(), int(BCS_TIMED_OUT));

    io.DelTimer(cmd);
    QCOMPARE(io.timerCount(), 0);

    // A deleted timer never fires.
    const BaseCommandPtr other = io.hold(8, true);
    io.AddTimer(other, 20, &receiver, SLOT(OnTimedOut(BaseCommandPtr)));
    io.DelTimer(other);
    QCOMPARE(io.timerCount(), 0);
    const BaseCommandPtr marker = io.hold(9, true);
    io.AddTimer(marker, 60, &receiver, SLOT(OnTimedOut(BaseCommandPtr)));
    QTRY_COMPARE(receiver.seen.size(), 2);
    QCOMPARE(receiver.seen.last(), marker);
    QCOMPARE(other->GetStatus(), int(BCS_SUCCESS));
}

void TestServiceIO::waitOnTransportThreadIsRefused()
{
    LogCapture log;
    ProbeIO io(false);
    BaseCommandPtr cmd = io.hold(2, true);
    QCOMPARE(io.WaitForCommand(&cmd, 10), int(BCS_INVALID));
    QCOMPARE(log.count("ServiceIO::WaitForCommand(): can't wait for command completion from "
                       "within the ServiceIO thread"),
             1);
}

void TestServiceIO::destructionDumpsQueues()
{
    LogCapture log;
    auto* io = new ProbeIO(false);
    io->hold(1, true)->SetStatus(BCS_QUEUED);
    io->hold(2, false)->SetStatus(BCS_TIMED_OUT);
    io->hold(3, false);
    io->Release();
    const QStringList expected{
        "ServiceIO destructing, 1/2 messages in send/receive queue",
        " --> send queue dump:",
        "   * IsProcessGame, status 2",
        " --> receive queue dump:",
        "   * IsProcessGame, status -64993",
        "   * IsProcessGame, status 1",
    };
    QCOMPARE(log.messages(), expected);
}

QTEST_MAIN(TestServiceIO)
#include "tst_serviceio.moc"
