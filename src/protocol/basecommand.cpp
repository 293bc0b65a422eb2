#include "basecommand.h"

#include "bwcentry.h"
#include "bwcstatcpuentry.h"
#include "bwcstatentry.h"
#include "bwctotalsentry.h"
#include "deviceinfo.h"
#include "fieldvisitor.h"
#include "forward.h"
#include "framecodec.h"
#include "process.h"
#include "wireio.h"

#include <QAbstractSocket>
#include <QDataStream>
#include <QIODevice>

namespace {

// The memory a field takes in a command, as the payload reader reports it.
template <class T> constexpr int memorySize()
{
    if constexpr (std::is_arithmetic_v<T>)
        return int(sizeof(T));
    else
        return 8;
}

class WireWriter final : public FieldVisitor
{
public:
    explicit WireWriter(QDataStream& stream) : m_stream(stream) {}
#define BWC_WRITE_SLOT(T)                                                                          \
    void field(const char*, T& value) override                                                     \
    {                                                                                              \
        WireIO::write(m_stream, value);                                                            \
    }
    BWC_FIELD_TYPES(BWC_WRITE_SLOT)
#undef BWC_WRITE_SLOT
private:
    QDataStream& m_stream;
};

class WireReader final : public FieldVisitor
{
public:
    WireReader(QDataStream& stream, int& consumed) : m_stream(stream), m_consumed(consumed) {}
#define BWC_READ_SLOT(T)                                                                           \
    void field(const char*, T& value) override                                                     \
    {                                                                                              \
        WireIO::read(m_stream, value);                                                             \
        m_consumed += memorySize<T>();                                                             \
    }
    BWC_FIELD_TYPES(BWC_READ_SLOT)
#undef BWC_READ_SLOT
private:
    QDataStream& m_stream;
    int& m_consumed;
};

const int registered = qRegisterMetaType<BaseCommandPtr>("BaseCommandPtr");

} // namespace

BaseCommand::BaseCommand(quint32 typeNumber) : type(typeNumber)
{
    Q_UNUSED(registered);
}

BaseCommand::~BaseCommand() = default;

bool BaseCommand::MatchesDevice(quint32 first, quint32 second) const
{
    return device == BWC_DEVICE_ANY || quint32(device) == first || quint32(device) == second;
}

int BaseCommand::WriteFields(QDataStream* stream) const
{
    if (!stream)
        return BCS_NOT_INITIALIZED;
    WireWriter writer(*stream);
    const_cast<BaseCommand*>(this)->VisitFields(writer);
    // The only way a field fails to write is a null record or an unencodable image.
    return stream->status() == QDataStream::Ok ? 0 : BCS_NULL_COMMAND;
}

int BaseCommand::ReadFields(QDataStream* stream, int available, int& consumed)
{
    Q_UNUSED(available);
    consumed = 0;
    if (!stream)
        return BCS_NOT_INITIALIZED;
    WireReader reader(*stream, consumed);
    VisitFields(reader);
    return 0;
}

int BaseCommand::ReadCommand(QIODevice* device, BaseCommandPtr* out)
{
    *out = BaseCommandPtr();
    if (!device)
        return BCS_NOT_INITIALIZED;
    const qint64 available = device->bytesAvailable();
    if (available < 8)
        return BCS_INCOMPLETE;
    char prefix[8];
    if (device->peek(prefix, 8) != 8)
        return BCS_INCOMPLETE;
    quint32 length = 0, typeNumber = 0;
    if (const int result = FrameCodec::checkPrefix(QByteArrayView(prefix, 8), &length, &typeNumber))
        return result;
    if (available < qint64(length))
        return BCS_INCOMPLETE;
    const BaseCommandPtr command = GetCmd(int(typeNumber));
    if (!command)
        return BCS_TIMED_OUT;
    const QByteArray frame = device->read(length);
    if (frame.size() != qsizetype(length))
        return BCS_INCOMPLETE;
    return FrameCodec::parseFrame(command, frame, out);
}

int BaseCommand::WriteCommand(const BaseCommand* command, QIODevice* device)
{
    if (!command)
        return BCS_NULL_COMMAND;
    if (!device)
        return BCS_NOT_INITIALIZED;
    QByteArray frame;
    if (const int result = FrameCodec::encode(command, &frame))
        return result;
    if (device->write(frame) != frame.size())
        return BCS_WRITE_FAILED;
    return 0;
}

int BaseCommand::WriteCommand(const BaseCommand* command, QAbstractSocket* socket)
{
    if (!command)
        return BCS_NULL_COMMAND;
    if (!socket)
        return BCS_NOT_INITIALIZED;
    if (const int result = WriteCommand(command, static_cast<QIODevice*>(socket)))
        return result;
    socket->flush();
    return 0;
}

QAbstractSocket* operator<<(QAbstractSocket* socket, const BaseCommandPtr& command)
{
    if (socket && command)
        BaseCommand::WriteCommand(command.data(), socket);
    return socket;
}

QAbstractSocket& operator<<(QAbstractSocket& socket, const BaseCommand* command)
{
    if (command)
        BaseCommand::WriteCommand(command, &socket);
    return socket;
}

const char* StatusName(qint32 status)
{
    switch (status) {
    case BCS_QUEUED:
        return "BCS_QUEUED";
    case BCS_SUCCESS:
        return "BCS_SUCCESS";
    case BCS_SENT:
        return "BCS_SENT";
    case BCS_TIMED_OUT:
        return "BCS_TIMED_OUT";
    case BCS_INVALID:
        return "BCS_INVALID";
    case BCS_INCOMPLETE:
        return "BCS_INCOMPLETE";
    case BCS_UNSUPPORTED:
        return "BCS_UNSUPPORTED";
    case BCS_WRITE_FAILED:
        return "BCS_WRITE_FAILED";
    case BCS_NULL_COMMAND:
        return "BCS_NULL_COMMAND";
    case BCS_NOT_INITIALIZED:
        return "BCS_NOT_INITIALIZED";
    case BCS_SEND_FAILED:
        return "BCS_SEND_FAILED";
    }
    return nullptr;
}
