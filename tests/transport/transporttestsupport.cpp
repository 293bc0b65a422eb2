#include "transporttestsupport.h"

#include "framecodec.h"
#include "serviceio.h"

#include <QEvent>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTest>

namespace {

// The transport's debug chatter stays off, as ctest asks, but through a rule
// that LogCapture can lift (the environment's rules would override it).
const bool quietByDefault = [] {
    qunsetenv("QT_LOGGING_RULES");
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    return true;
}();

} // namespace

namespace TransportTest {

quint16 useFreePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    qputenv("BWC_PORT", QByteArray::number(port));
    return port;
}

BaseCommandPtr request(quint32 processId)
{
    auto* cmd = new BCI_IsProcessGame;
    cmd->setProcessId(processId);
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

BaseCommandPtr broadcast(qint32 value)
{
    auto* cmd = new BCI_BWCSpeedTest;
    cmd->setResult0(value);
    return BaseCommandPtr(cmd);
}

QByteArray frameOf(const BaseCommand* cmd)
{
    QByteArray frame;
    FrameCodec::encode(cmd, &frame);
    return frame;
}

} // namespace TransportTest

FakePeer::FakePeer(QTcpSocket* socket) : m_socket(socket ? socket : new QTcpSocket)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &FakePeer::onReadyRead);
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
}

bool FakePeer::connectTo(quint16 port)
{
    m_socket->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    return QTest::qWaitFor([this] { return m_socket->state() == QAbstractSocket::ConnectedState; },
                           5000);
}

void FakePeer::send(const BaseCommand* cmd)
{
    sendRaw(TransportTest::frameOf(cmd));
}

void FakePeer::sendRaw(const QByteArray& bytes)
{
    m_socket->write(bytes);
    m_socket->flush();
}

bool FakePeer::waitForFrames(int count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return frames.size() >= count; }, timeoutMs);
}

bool FakePeer::waitForDisconnect(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] { return m_socket->state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
}

bool FakePeer::handshake(quint16 port, const QUuid& proposed, QUuid* assigned)
{
    if (!connectTo(port) || !waitForFrames(1) || !command_cast<BCI_InitComm>(frames.first()))
        return false;
    BCI_Handshake hello;
    hello.setSessionId(proposed);
    const int before = int(frames.size());
    send(&hello);
    if (!waitForFrames(before + 1))
        return false;
    const BCI_Handshake* answer = command_cast<BCI_Handshake>(frames.at(before));
    if (!answer)
        return false;
    if (assigned)
        *assigned = answer->sessionId();
    return true;
}

void FakePeer::onReadyRead()
{
    const QByteArray bytes = m_socket->readAll();
    bytesReceived += bytes.size();
    m_buffer += bytes;
    for (;;) {
        BaseCommandPtr cmd;
        qint64 used = 0;
        if (FrameCodec::decode(m_buffer, &cmd, &used) != 0)
            return;
        rawFrames << m_buffer.left(used);
        frames << cmd;
        m_buffer.remove(0, used);
    }
}

Collector::Collector(ServiceIO* transport) : io(transport)
{
    connect(io, SIGNAL(NewCommandReceived(BaseCommandPtr)), this, SLOT(OnCommand(BaseCommandPtr)));
    connect(io, SIGNAL(NewBroadcastReceived(BaseCommandPtr)), this,
            SLOT(OnBroadcast(BaseCommandPtr)));
    connect(io, SIGNAL(CommandTimedOut(BaseCommandPtr)), this, SLOT(OnTimedOut(BaseCommandPtr)));
    connect(io, SIGNAL(connected()), this, SLOT(OnConnected()));
    connect(io, SIGNAL(disconnected()), this, SLOT(OnDisconnected()));
}

bool Collector::event(QEvent* event)
{
    if (io)
        io->SynchronizeDelivery();
    return QObject::event(event);
}

void Collector::OnCommand(BaseCommandPtr cmd)
{
    retrieveResults << (io ? io->RetrieveCommand(&cmd) : BCS_NOT_INITIALIZED);
    replies << cmd;
}

void Collector::OnBroadcast(BaseCommandPtr cmd)
{
    retrieveResults << (io ? io->RetrieveCommand(&cmd) : BCS_NOT_INITIALIZED);
    broadcasts << cmd;
}

void Collector::OnTimedOut(BaseCommandPtr cmd)
{
    // Claimed only to order the transport thread's writes before our reads.
    BaseCommandPtr claim = cmd;
    if (io)
        io->RetrieveCommand(&claim);
    timedOut << cmd;
}

EchoService::EchoService(ServiceIO* transport) : server(transport)
{
    connect(server, SIGNAL(NewCommandReceived(BaseCommandPtr)), this,
            SLOT(OnCommand(BaseCommandPtr)));
}

bool EchoService::event(QEvent* event)
{
    server->SynchronizeDelivery();
    return QObject::event(event);
}

void EchoService::OnCommand(BaseCommandPtr cmd)
{
    if (!claim) {
        received << cmd;
        return;
    }
    const int result = server->RetrieveCommand(&cmd);
    retrieveResults << result;
    received << cmd;
    if (!answer || result != 0)
        return;
    if (BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd))
        game->setAnswer(qint32(game->processId() * 2));
    cmd->SetStatus(BCS_SUCCESS);
    server->SendCommand(cmd, 10000);
}

std::mutex LogCapture::s_lock;
QStringList LogCapture::s_messages;
bool LogCapture::s_record = true;

LogCapture::LogCapture(bool record)
{
    Q_UNUSED(quietByDefault);
    {
        std::lock_guard<std::mutex> lock(s_lock);
        s_messages.clear();
        s_record = record;
    }
    if (record)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
}

void LogCapture::handler(QtMsgType, const QMessageLogContext&, const QString& text)
{
    std::lock_guard<std::mutex> lock(s_lock);
    if (s_record)
        s_messages << text;
}

int LogCapture::count(const QString& text) const
{
    std::lock_guard<std::mutex> lock(s_lock);
    return int(s_messages.count(text));
}

int LogCapture::countStartingWith(const QString& prefix) const
{
    std::lock_guard<std::mutex> lock(s_lock);
    return int(std::count_if(s_messages.cbegin(), s_messages.cend(),
                             [&](const QString& text) { return text.startsWith(prefix); }));
}

QStringList LogCapture::messages() const
{
    std::lock_guard<std::mutex> lock(s_lock);
    return s_messages;
}
