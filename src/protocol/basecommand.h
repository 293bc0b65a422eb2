#pragma once

#include "statuscodes.h"

#include <QExplicitlySharedDataPointer>
#include <QMetaType>
#include <QSharedData>
#include <QUuid>

class QAbstractSocket;
class QDataStream;
class QIODevice;
class BaseCommand;
class FieldVisitor;

using BaseCommandPtr = QExplicitlySharedDataPointer<BaseCommand>;

// Device codes of the header's selector.
constexpr qint32 BWC_DEVICE_DEFAULT = -254;
constexpr qint32 BWC_DEVICE_WIRELESS = -253;
constexpr qint32 BWC_DEVICE_ANY = -255;

// Bit that marks the notifications the service sends unasked.
constexpr quint32 BWC_BROADCAST_BITS = 0x20000;

// A typed message between the module and the service. A request and its reply
// are the same class; the service answers with the request's sequence number.
class BaseCommand : public QSharedData
{
public:
    // Frame bounds: the 20-byte header is optional below 20 (missing fields read as 0).
    static constexpr quint32 MinFrameLength = 12;
    static constexpr quint32 MaxFrameLength = 100000;
    static constexpr int HeaderLength = 20;

    virtual ~BaseCommand();

    // Payload operations, implemented by every concrete class. Both stream
    // operations give 0, or BCS_NOT_INITIALIZED without a stream.
    virtual int WritePayload(QDataStream* stream) const = 0;
    virtual int ReadPayload(QDataStream* stream, int available, int& consumed) = 0;
    virtual bool InitPayload() = 0;
    virtual bool ReleasePayload() = 0;

    // Every payload field, in wire order, with its name (for tools and tests).
    virtual void VisitFields(FieldVisitor& visitor) = 0;

    quint32 GetType() const { return type; }
    qint32 GetStatus() const { return status; }
    quint32 GetSequence() const { return sequence; }
    QUuid GetUuid() const { return uuid; }
    qint32 GetDevice() const { return device; }
    void SetStatus(qint32 value) { status = value; }
    void SetSequence(quint32 value) { sequence = value; }
    void SetUuid(const QUuid& value) { uuid = value; }
    void SetDevice(qint32 value) { device = value; }

    const char* GetName() const { return GetName(int(type)); }
    bool IsProtocolCommand() const { return (type & 0xFF000u) == 0x1000u; }
    bool HasTypeBits(quint32 mask) const { return (type & mask) != 0; }
    bool MatchesDevice(quint32 first, quint32 second) const;

    static BaseCommandPtr GetCmd(int type);
    static const char* GetName(int type);

    // Reads one whole frame from the device, never blocking and never consuming
    // a partial frame. Gives 0 with *out set, or a status code with *out null.
    static int ReadCommand(QIODevice* device, BaseCommandPtr* out);
    // Writes one frame in a single write and flushes the socket.
    static int WriteCommand(const BaseCommand* command, QAbstractSocket* socket);
    // The same for any device; used by tools and tests that write to buffers.
    static int WriteCommand(const BaseCommand* command, QIODevice* device);

protected:
    explicit BaseCommand(quint32 typeNumber);
    BaseCommand(const BaseCommand&) = delete;
    BaseCommand& operator=(const BaseCommand&) = delete;

    // The payload operations of every concrete class: its fields, through
    // VisitFields, written to or read from the stream in wire order.
    int WriteFields(QDataStream* stream) const;
    int ReadFields(QDataStream* stream, int available, int& consumed);

private:
    QUuid uuid;
    quint32 sequence = 0;
    qint32 status = BCS_NOT_INITIALIZED;
    quint32 type;
    qint32 device = BWC_DEVICE_DEFAULT;
};

Q_DECLARE_METATYPE(BaseCommandPtr)

// Checked downcast by type number: null unless the command is a T.
template <class T> T* command_cast(BaseCommand* command)
{
    return command && command->GetType() == T::TypeId ? static_cast<T*>(command) : nullptr;
}
template <class T> T* command_cast(const BaseCommandPtr& command)
{
    return command_cast<T>(command.data());
}

// Stream-style writes used by the transport; a null socket or command writes nothing.
QAbstractSocket* operator<<(QAbstractSocket* socket, const BaseCommandPtr& command);
QAbstractSocket& operator<<(QAbstractSocket& socket, const BaseCommand* command);
