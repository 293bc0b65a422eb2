#include "framecodec.h"

#include <QBuffer>
#include <QDataStream>
#include <QtEndian>

namespace FrameCodec {

int checkPrefix(QByteArrayView prefix, quint32* length, quint32* type)
{
    *length = qFromBigEndian<quint32>(prefix.data());
    *type = qFromBigEndian<quint32>(prefix.data() + 4);
    if (*length < BaseCommand::MinFrameLength || *length > BaseCommand::MaxFrameLength)
        return BCS_INVALID;
    return 0;
}

int parseFrame(const BaseCommandPtr& command, const QByteArray& frame, BaseCommandPtr* out)
{
    QDataStream stream(frame);
    stream.setVersion(QDataStream::Qt_4_6);
    stream.skipRawData(8);
    quint32 sequence = 0, status = 0, device = 0;
    stream >> sequence >> status >> device;
    command->SetSequence(sequence);
    command->SetStatus(qint32(status));
    command->SetDevice(qint32(device));
    // Frames of 12 to 19 bytes lack part of the header, which reads as 0.
    stream.resetStatus();

    int consumed = 0;
    const int result =
        command->ReadPayload(&stream, int(frame.size()) - BaseCommand::HeaderLength, consumed);
    const qint64 extra = stream.device()->bytesAvailable();
    if (extra > 0) {
        qWarning("BaseCommand::ReadCommand(): ignoring extraneous data (%d bytes) for command %s "
                 "(%d)",
                 int(extra), command->GetName(), int(command->GetType()));
    }
    *out = result == 0 ? command : BaseCommandPtr();
    return result;
}

int decode(QByteArrayView bytes, BaseCommandPtr* out, qint64* used)
{
    *out = BaseCommandPtr();
    *used = 0;
    if (bytes.size() < 8)
        return BCS_INCOMPLETE;
    quint32 length = 0, type = 0;
    if (const int result = checkPrefix(bytes.first(8), &length, &type))
        return result;
    if (bytes.size() < qsizetype(length))
        return BCS_INCOMPLETE;
    const BaseCommandPtr command = BaseCommand::GetCmd(int(type));
    if (!command)
        return BCS_TIMED_OUT;
    *used = length;
    return parseFrame(command, bytes.first(length).toByteArray(), out);
}

int encode(const BaseCommand* command, QByteArray* frame)
{
    if (!command)
        return BCS_NULL_COMMAND;
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_6);
    stream << quint32(0) << command->GetType() << command->GetSequence()
           << quint32(command->GetStatus()) << quint32(command->GetDevice());
    if (const int result = command->WritePayload(&stream))
        return result;
    qToBigEndian<quint32>(quint32(bytes.size()), bytes.data());
    *frame = bytes;
    return 0;
}

} // namespace FrameCodec
