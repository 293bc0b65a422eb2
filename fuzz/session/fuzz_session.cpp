// libFuzzer target: arbitrary bytes from a client that has completed its
// handshake, into a live server session over a loopback connection. The
// server runs in this thread, with an owner that claims and answers whatever
// it delivers, so that one input is read, answered and routed before the next.

#include "commands.h"
#include "framecodec.h"
#include "serviceioserver.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdlib>

namespace {

ServiceIOServer* server = nullptr;
quint16 port = 0;
// One session identity for every input, so that replies held for an absent
// client are delivered at its next connection instead of piling up.
const QUuid session = QUuid::createUuid();

void pump(int rounds)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs the event loop until the client has received at least `bytes` bytes.
bool receive(QTcpSocket& client, QByteArray* got, qsizetype bytes)
{
    const QDeadlineTimer deadline(2000);
    while (got->size() < bytes && !deadline.hasExpired()) {
        pump(1);
        *got += client.readAll();
    }
    return got->size() >= bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 1;
    static char name[] = "fuzz_session";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv); // pictures in payloads need it; lives to the end
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port = probe.serverPort();
    probe.close();
    qputenv("BWC_PORT", QByteArray::number(port));
    server = new ServiceIOServer;
    if (!server->IsInitialised())
        std::abort();
    QObject::connect(server, &ServiceIO::NewCommandReceived, server, [](BaseCommandPtr cmd) {
        if (server->RetrieveCommand(&cmd) != 0)
            return;
        cmd->SetStatus(BCS_SUCCESS);
        server->SendCommand(cmd, 10000);
    });
    QObject::connect(server, &ServiceIO::NewBroadcastReceived, server,
                     [](BaseCommandPtr cmd) { server->RetrieveCommand(&cmd); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QByteArray got;
    // InitComm, then our Handshake and its answer: 20 and 38 bytes.
    // A session that cannot be set up says nothing about the input.
    if (!receive(client, &got, 20))
        return 0;
    BCI_Handshake handshake;
    handshake.setSessionId(session);
    QByteArray frame;
    FrameCodec::encode(&handshake, &frame);
    client.write(frame);
    if (!receive(client, &got, 20 + 38))
        return 0;

    client.write(reinterpret_cast<const char*>(data), qint64(size));
    client.flush();
    pump(8);
    client.readAll();
    client.abort();
    pump(4);
    return 0;
}
