#include "serviceclient.h"

#include "commands.h"
#include "framecodec.h"

#include <QDeadlineTimer>
#include <QHostAddress>

bool ServiceClient::connectTo(quint16 port, int timeoutMs)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    if (!m_socket.waitForConnected(timeoutMs) || !command_cast<BCI_InitComm>(readFrame(timeoutMs)))
        return false;
    BCI_Handshake handshake;
    handshake.setSessionId(QUuid::createUuid());
    QByteArray frame;
    FrameCodec::encode(&handshake, &frame);
    m_socket.write(frame);
    return command_cast<BCI_Handshake>(readFrame(timeoutMs)) != nullptr;
}

quint32 ServiceClient::send(const BaseCommandPtr& request)
{
    request->SetSequence(++m_sequence);
    QByteArray frame;
    FrameCodec::encode(request.data(), &frame);
    m_socket.write(frame);
    m_socket.flush();
    return m_sequence;
}

BaseCommandPtr ServiceClient::waitReply(quint32 sequence, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (const BaseCommandPtr command = readFrame(int(deadline.remainingTime()))) {
        if (command->HasTypeBits(BWC_BROADCAST_BITS))
            broadcasts.append(command);
        else if (command->GetSequence() == sequence)
            return command;
    }
    return {};
}

BaseCommandPtr ServiceClient::readFrame(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        BaseCommandPtr command;
        qint64 used = 0;
        const int result = FrameCodec::decode(m_buffer, &command, &used);
        if (result == 0) {
            m_buffer.remove(0, used);
            return command;
        }
        if (result != BCS_INCOMPLETE || deadline.hasExpired() ||
            !m_socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
            return {};
        m_buffer += m_socket.readAll();
    }
}
