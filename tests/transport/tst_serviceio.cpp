// The transport core through a minimal transport in the test thread without a
// socket: sequence numbers, the receive queue, result codes and timers.

#include "commands.h"
#include "serviceio.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

namespace {

BaseCommandPtr request(quint32 sequence)
{
    BaseCommandPtr cmd(new BCI_IsProcessGame);
    cmd->SetSequence(sequence);
    return cmd;
}

} // namespace

class ProbeIO : public ServiceIO
{
public:
    explicit ProbeIO(bool server) : m_server(server) {}

    void Release() override { delete this; }
    bool IsServer() const override { return m_server; }

    using ServiceIO::AddTimer;
    using ServiceIO::AssignSequence;
    using ServiceIO::DelTimer;
    using ServiceIO::QueueCommand;

    // Only this thread touches the queues, so no locks are taken.
    BaseCommandPtr hold(quint32 sequence, bool send, const QUuid& uuid = QUuid())
    {
        const BaseCommandPtr cmd = request(sequence);
        cmd->SetUuid(uuid);
        (send ? m_sendQueue : m_recvQueue).append(cmd);
        return cmd;
    }
    QList<BaseCommandPtr> receiveQueue() const { return m_recvQueue; }
    void setLastSequence(quint32 last) { m_lastSequence = last; }

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

class TestServiceIO : public QObject
{
    Q_OBJECT
private slots:
    void sequenceNumbers();
    void receive_data();
    void receive();
    void resultCodes();
    void timers();
    void queueDump_data();
    void queueDump();
};

void TestServiceIO::sequenceNumbers()
{
    ProbeIO io(false);
    const auto next = [&io] {
        const BaseCommandPtr cmd = request(0);
        io.AssignSequence(cmd);
        return cmd->GetSequence();
    };
    QCOMPARE(next(), 1u);
    QCOMPARE(next(), 2u);
    io.hold(3, true);
    io.hold(4, false);
    QCOMPARE(next(), 5u);
    io.setLastSequence(0xFFFFFFFEu);
    QCOMPARE(next(), 0xFFFFFFFFu);
    // 0 is skipped after the wrap, and so are 3 and 4 while they are held.
    QCOMPARE(next(), 1u);
    QCOMPARE(next(), 2u);
    QCOMPARE(next(), 5u);
}

void TestServiceIO::receive_data()
{
    QTest::addColumn<bool>("server");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<bool>("sameOwner");
    QTest::addColumn<int>("length"); // of the receive queue afterwards

    QTest::newRow("client reply replaces its placeholder") << false << false << true << 1;
    QTest::newRow("client broadcast of the same number") << false << true << true << 2;
    QTest::newRow("server repeated request from one client") << true << false << true << 1;
    QTest::newRow("server same number from another client") << true << false << false << 2;
}

void TestServiceIO::receive()
{
    QFETCH(bool, server);
    QFETCH(bool, broadcast);
    QFETCH(bool, sameOwner);
    QFETCH(int, length);

    ProbeIO io(server);
    const QUuid first = QUuid::createUuid();
    io.hold(7, false, server ? first : QUuid())->SetStatus(BCS_SENT);
    io.owner = sameOwner ? first : QUuid::createUuid();
    const BaseCommandPtr arriving = broadcast ? BaseCommandPtr(new BCI_BWCSpeedTest) : request(7);
    arriving->SetSequence(7);
    QVERIFY(io.QueueCommand(arriving, -1, false, nullptr, nullptr, nullptr));
    QCOMPARE(io.receiveQueue().size(), length);
    QCOMPARE(io.receiveQueue().last(), arriving);
    if (server)
        QCOMPARE(arriving->GetUuid(), io.owner);
}

void TestServiceIO::resultCodes()
{
    ProbeIO io(false);
    BaseCommandPtr stranger = request(99);
    BaseCommandPtr none;
    QCOMPARE(io.RetrieveCommand(nullptr), int(BCS_UNSUPPORTED));
    QCOMPARE(io.RetrieveCommand(&stranger), int(BCS_WRITE_FAILED));
    QCOMPARE(io.GetNextCommand(nullptr), int(BCS_UNSUPPORTED));
    QCOMPARE(io.GetNextCommand(&none), int(BCS_WRITE_FAILED));
    QCOMPARE(io.CancelCommand(BaseCommandPtr()), int(BCS_UNSUPPORTED));
    QCOMPARE(io.CancelCommand(request(0)), int(BCS_INCOMPLETE));
    QCOMPARE(io.CancelCommand(stranger), int(BCS_NOT_INITIALIZED));
    QCOMPARE(io.SendCommand(BaseCommandPtr(), 1000), int(BCS_NULL_COMMAND));

    // A command still in the send queue is found by RetrieveCommand and
    // removed by a local cancel.
    BaseCommandPtr queued = io.hold(5, true);
    QCOMPARE(io.RetrieveCommand(&queued), 0);
    QCOMPARE(io.CancelCommand(queued), 0);
    QCOMPARE(io.CancelCommand(queued), int(BCS_NOT_INITIALIZED));

    const BaseCommandPtr received = io.hold(6, false);
    QCOMPARE(io.GetNextCommand(&none), 0);
    QCOMPARE(none, received);

    // Only the transport's thread delivers replies: it must never wait for one.
    BaseCommandPtr wait = io.hold(2, true);
    QCOMPARE(io.WaitForCommand(&wait, 10), int(BCS_INVALID));
}

void TestServiceIO::timers()
{
    ProbeIO io(false);
    QSignalSpy spy(&io, &ServiceIO::CommandTimedOut);
    // The member is the transport's own signal, which the spy sees.
    const char* relay = SIGNAL(CommandTimedOut(BaseCommandPtr));
    const BaseCommandPtr fires = io.hold(4, true);
    const BaseCommandPtr deleted = io.hold(8, true);
    const BaseCommandPtr untimed = io.hold(9, true);

    // None of these may fire: no time-out, a command not held, a deleted timer.
    io.AddTimer(untimed, -5, &io, relay);
    io.AddTimer(untimed, 0, &io, relay);
    io.AddTimer(request(1), 10, &io, relay);
    io.AddTimer(deleted, 10, &io, relay);
    io.DelTimer(deleted);
    io.AddTimer(fires, 40, &io, relay);

    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(spy.first().first().value<BaseCommandPtr>(), fires);
    QCOMPARE(fires->GetStatus(), int(BCS_TIMED_OUT));
}

// A transport that goes away with requests in flight says so only when asked:
// a closing client has them as a matter of course.
void TestServiceIO::queueDump_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("shown");
    QTest::newRow("by default") << QString() << false;
    QTest::newRow("asked for") << QStringLiteral("bwc.transport.queues=true") << true;
}

void TestServiceIO::queueDump()
{
    QFETCH(QString, rules);
    QFETCH(bool, shown);
    static QStringList seen;
    seen.clear();
    QLoggingCategory::setFilterRules(rules);
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { seen << message; });
    auto* io = new ProbeIO(false);
    io->hold(1, false);
    io->Release();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(seen.contains(QStringLiteral(" --> receive queue dump:")), shown);
}

QTEST_MAIN(TestServiceIO)
#include "tst_serviceio.moc"
