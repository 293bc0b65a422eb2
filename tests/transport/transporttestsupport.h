#pragma once

// Helpers shared by the transport tests: free ports, a raw-socket peer that
// sees exact bytes, an owner that records what a transport delivers, a stand-in
// service that answers requests, and a thread-safe log recorder.

#include "basecommand.h"
#include "commands.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpSocket>

#include <mutex>

class ServiceIO;

namespace TransportTest {

// A port nobody listens on right now, set as BWC_PORT for what follows.
quint16 useFreePort();

// An IsProcessGame request; the stand-in service answers with processId * 2.
BaseCommandPtr request(quint32 processId);
quint32 processIdOf(const BaseCommandPtr& cmd);
qint32 answerOf(const BaseCommandPtr& cmd);
BaseCommandPtr broadcast(qint32 value);
QByteArray frameOf(const BaseCommand* cmd);

} // namespace TransportTest

// A peer on a plain socket in the test thread: writes exact bytes and parses
// whatever arrives into frames.
class FakePeer : public QObject
{
    Q_OBJECT
public:
    // Wraps an accepted socket (taking it over), or makes a new unconnected one.
    explicit FakePeer(QTcpSocket* socket = nullptr);

    bool connectTo(quint16 port);
    void send(const BaseCommand* cmd);
    void send(const BaseCommandPtr& cmd) { send(cmd.data()); }
    void sendRaw(const QByteArray& bytes);
    // Waits until at least count frames have arrived in all.
    bool waitForFrames(int count, int timeoutMs = 5000);
    bool waitForDisconnect(int timeoutMs = 5000);
    // The Handshake answer to the server's InitComm: connect, read InitComm, propose uuid.
    bool handshake(quint16 port, const QUuid& proposed, QUuid* assigned = nullptr);

    QTcpSocket* socket() const { return m_socket; }
    QList<BaseCommandPtr> frames;
    QList<QByteArray> rawFrames;
    qint64 bytesReceived = 0;

private slots:
    void onReadyRead();

private:
    QTcpSocket* m_socket;
    QByteArray m_buffer;
};

// An owner: records every command a transport delivers, claiming each first
// with RetrieveCommand as the module's owners do.
class Collector : public QObject
{
    Q_OBJECT
public:
    explicit Collector(ServiceIO* io);

    QPointer<ServiceIO> io;
    QList<BaseCommandPtr> replies;
    QList<BaseCommandPtr> broadcasts;
    QList<BaseCommandPtr> timedOut;
    QList<int> retrieveResults;
    int connects = 0;
    int disconnects = 0;

protected:
    bool event(QEvent* event) override;

public slots:
    void OnCommand(BaseCommandPtr cmd);
    void OnBroadcast(BaseCommandPtr cmd);
    void OnTimedOut(BaseCommandPtr cmd);
    void OnConnected() { ++connects; }
    void OnDisconnected() { ++disconnects; }
};

// The service's side of the conversation: claims every request it receives and
// answers it with processId * 2 and status BCS_SUCCESS, unless told not to.
class EchoService : public QObject
{
    Q_OBJECT
public:
    explicit EchoService(ServiceIO* server);

    ServiceIO* server;
    bool claim = true;
    bool answer = true;
    QList<BaseCommandPtr> received;
    QList<int> retrieveResults;

protected:
    bool event(QEvent* event) override;

public slots:
    void OnCommand(BaseCommandPtr cmd);
};

// Records log messages (debug ones included) from every thread while alive;
// prints none of them. Not recording, it only keeps the output quiet.
class LogCapture
{
public:
    explicit LogCapture(bool record = true);
    ~LogCapture();
    int count(const QString& text) const;
    int countStartingWith(const QString& prefix) const;
    QStringList messages() const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    static std::mutex s_lock;
    static QStringList s_messages;
    static bool s_record;
    QtMessageHandler m_previous;
};
