#include "servicesession.h"

#include "serviceio.h"
#include "serviceiofactory.h"
#include "serviceport.h"
#include "statuscodes.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>

ServiceSession::ServiceSession(quint16 port, int timeoutMs) : m_port(port), m_timeoutMs(timeoutMs)
{
    // The transport's debug chatter is for developers, not for our output.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    // The client connects to the port the environment names.
    qputenv(ServicePort::EnvironmentVariable, QByteArray::number(port));
    m_client = CreateServiceIO(false, nullptr);
    if (!m_client)
        return;
    m_client->SetName("bwcctl");
    // Both run in the transport's thread as each command is read, so a
    // broadcast is recorded before any reply that followed it on the wire.
    QObject::connect(
        m_client, &ServiceIO::NewCommandReceived, m_client,
        [this](BaseCommandPtr command) {
            if (m_client->RetrieveCommand(&command) != 0 || !command)
                return;
            QMutexLocker lock(&m_lock);
            m_replies.insert(command->GetSequence(), command);
            m_arrived.wakeAll();
        },
        Qt::DirectConnection);
    // Emitted once the transport has written its CancelCommand for the request.
    QObject::connect(
        m_client, &ServiceIO::CommandTimedOut, m_client,
        [this](BaseCommandPtr command) {
            QMutexLocker lock(&m_lock);
            m_timedOut.insert(command->GetSequence());
            m_arrived.wakeAll();
        },
        Qt::DirectConnection);
    QObject::connect(
        m_client, &ServiceIO::NewBroadcastReceived, m_client,
        [this](BaseCommandPtr command) {
            if (m_client->RetrieveCommand(&command) != 0 || !command)
                return;
            QMutexLocker lock(&m_lock);
            m_broadcasts.append(command);
        },
        Qt::DirectConnection);
}

ServiceSession::~ServiceSession()
{
    if (m_client)
        m_client->Release();
}

bool ServiceSession::send(const BaseCommandPtr& request)
{
    return m_client && m_client->SendCommand(request, m_timeoutMs) == 0;
}

BaseCommandPtr ServiceSession::wait(const BaseCommandPtr& request, QString* error, bool* timedOut)
{
    if (timedOut)
        *timedOut = false;
    if (!m_client) {
        *error = QStringLiteral("cannot start the transport client");
        return {};
    }
    // The transport's own timer ends the wait; this deadline only guards
    // against a transport that never reports.
    const QDeadlineTimer deadline(m_timeoutMs + TimeoutGraceMs);
    const quint32 sequence = request->GetSequence();
    QMutexLocker lock(&m_lock);
    while (!m_replies.contains(sequence)) {
        if (m_timedOut.contains(sequence) || !m_arrived.wait(&m_lock, deadline)) {
            if (timedOut)
                *timedOut = true;
            *error = QStringLiteral("no answer from the service at 127.0.0.1:%1 within %2 ms "
                                    "(is bwcd running?)")
                         .arg(m_port)
                         .arg(m_timeoutMs);
            return {};
        }
    }
    const BaseCommandPtr reply = m_replies.take(sequence);
    // The request itself coming back means that it never went out.
    if (reply == request) {
        *error = QStringLiteral("could not write %1 to the service: %2 %3")
                     .arg(QLatin1String(request->GetName()))
                     .arg(reply->GetStatus())
                     .arg(QLatin1String(StatusName(reply->GetStatus())));
        return {};
    }
    return reply;
}

BaseCommandPtr ServiceSession::takeIfAnswered(const BaseCommandPtr& request)
{
    QMutexLocker lock(&m_lock);
    const BaseCommandPtr reply = m_replies.take(request->GetSequence());
    return reply == request ? BaseCommandPtr() : reply;
}

BaseCommandPtr ServiceSession::ask(const BaseCommandPtr& request, QString* error, bool* timedOut)
{
    if (!send(request)) {
        *error = QStringLiteral("cannot queue %1").arg(QLatin1String(request->GetName()));
        return {};
    }
    return wait(request, error, timedOut);
}

QList<BaseCommandPtr> ServiceSession::takeBroadcasts()
{
    QMutexLocker lock(&m_lock);
    return std::exchange(m_broadcasts, {});
}
