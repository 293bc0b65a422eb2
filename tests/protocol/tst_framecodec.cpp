// The frame reader and writer: bounds, partial frames, unknown types, extra
// bytes, header patterns and null arguments.

#include "commands.h"
#include "framecodec.h"

#include <QBuffer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray header(quint32 length, quint32 type, quint32 sequence = 1, quint32 status = 1,
                  quint32 device = 0xFFFFFF02u)
{
    QByteArray bytes(20, '\0');
    qToBigEndian(length, bytes.data());
    qToBigEndian(type, bytes.data() + 4);
    qToBigEndian(sequence, bytes.data() + 8);
    qToBigEndian(status, bytes.data() + 12);
    qToBigEndian(device, bytes.data() + 16);
    return bytes;
}

// A frame of the given length: header and zero payload (cut for lengths under 20).
QByteArray frameOfLength(quint32 length, quint32 type)
{
    QByteArray bytes = header(length, type);
    bytes.resize(length, '\0');
    return bytes;
}

struct Reading
{
    int result;
    BaseCommandPtr command;
    qint64 consumed;
};

Reading readFrom(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    Reading reading{0, {}, 0};
    reading.result = BaseCommand::ReadCommand(&buffer, &reading.command);
    reading.consumed = buffer.pos();
    return reading;
}

QByteArray encoded(const BaseCommand& command)
{
    QByteArray frame;
    const int result = FrameCodec::encode(&command, &frame);
    return result == 0 ? frame : QByteArray();
}

} // namespace

class tst_FrameCodec : public QObject
{
    Q_OBJECT

private slots:
    void emptyPayloadIsAHeader();
    void lengthBounds_data();
    void lengthBounds();
    void incompleteFrames_data();
    void incompleteFrames();
    void unknownTypeLeavesFrame();
    void extraneousBytesAreDropped();
    void statusAndDevicePatterns_data();
    void statusAndDevicePatterns();
    void shortPayloadReadsAsZero();
    void partialHeaderReadsAsZero();
    void nullArguments();
    void nullRecordWritesNothing();
};

void tst_FrameCodec::emptyPayloadIsAHeader()
{
    BCI_BWCStart start;
    const QByteArray frame = encoded(start);
    QCOMPARE(frame.toHex(), QByteArray("000000140000800c0000000000000001ffffff02"));
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    const Reading reading = readFrom(frame);
    QCOMPARE(reading.result, 0);
    QVERIFY(command_cast<BCI_BWCStart>(reading.command));
    QCOMPARE(reading.consumed, 20);
}

void tst_FrameCodec::lengthBounds_data()
{
    QTest::addColumn<quint32>("length");
    QTest::addColumn<int>("result");
    QTest::newRow("0") << 0u << int(BCS_INVALID);
    QTest::newRow("11") << 11u << int(BCS_INVALID);
    QTest::newRow("12") << 12u << 0;
    QTest::newRow("100000") << 100000u << 0;
    QTest::newRow("100001") << 100001u << int(BCS_INVALID);
    QTest::newRow("0xFFFFFFFF") << 0xFFFFFFFFu << int(BCS_INVALID);
    QTest::newRow("0x80000000") << 0x80000000u << int(BCS_INVALID);
}

void tst_FrameCodec::lengthBounds()
{
    QFETCH(quint32, length);
    QFETCH(int, result);
    // An empty-payload type: any bytes past the header are extraneous.
    QByteArray bytes = header(length, BCI_BWCStart::TypeId);
    bytes.resize(qMax<qsizetype>(20, qMin<quint32>(length, 100001)), '\0');
    if (length > 20 && result == 0)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("extraneous data")));
    const Reading reading = readFrom(bytes);
    QCOMPARE(reading.result, result);
    QCOMPARE(bool(reading.command), result == 0);
    QCOMPARE(reading.consumed, result == 0 ? qint64(length) : 0);
}

void tst_FrameCodec::incompleteFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray frame40 = frameOfLength(40, BCI_GetVersions::TypeId);
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("seven bytes") << frame40.left(7);
    QTest::newRow("prefix only") << frame40.left(8);
    QTest::newRow("39 of 40") << frame40.left(39);
}

void tst_FrameCodec::incompleteFrames()
{
    QFETCH(QByteArray, bytes);
    const Reading reading = readFrom(bytes);
    QCOMPARE(reading.result, int(BCS_INCOMPLETE));
    QVERIFY(!reading.command);
    QCOMPARE(reading.consumed, 0);
}

void tst_FrameCodec::unknownTypeLeavesFrame()
{
    QTest::ignoreMessage(QtCriticalMsg,
                         "BaseCommand::GetCmd(32792): unknown command type requested");
    const Reading reading = readFrom(frameOfLength(24, 0x8018));
    QCOMPARE(reading.result, int(BCS_TIMED_OUT));
    QVERIFY(!reading.command);
    QCOMPARE(reading.consumed, 0);
}

void tst_FrameCodec::extraneousBytesAreDropped()
{
    BCI_CancelCommand cancel;
    cancel.setTargetSequence(0x01020304);
    QByteArray frame = encoded(cancel);
    QCOMPARE(frame.size(), 24);
    frame.append("\xAA\xBB", 2);
    qToBigEndian<quint32>(26, frame.data());
    QTest::ignoreMessage(QtWarningMsg, "BaseCommand::ReadCommand(): ignoring extraneous data (2 "
                                       "bytes) for command CancelCommand (4099)");
    const Reading reading = readFrom(frame + QByteArray("next"));
    QCOMPARE(reading.result, 0);
    QCOMPARE(reading.consumed, 26);
    QCOMPARE(command_cast<BCI_CancelCommand>(reading.command)->targetSequence(), 0x01020304u);
}

void tst_FrameCodec::statusAndDevicePatterns_data()
{
    QTest::addColumn<qint32>("status");
    QTest::addColumn<qint32>("device");
    QTest::addColumn<QByteArray>("statusHex");
    QTest::addColumn<QByteArray>("deviceHex");
    QTest::newRow("not initialised, default device")
        << qint32(BCS_NOT_INITIALIZED) << -254 << QByteArray("ffff0219") << QByteArray("ffffff02");
    QTest::newRow("send failed, any device")
        << qint32(BCS_SEND_FAILED) << -255 << QByteArray("ffff0218") << QByteArray("ffffff01");
    QTest::newRow("queued, wireless")
        << qint32(BCS_QUEUED) << -253 << QByteArray("00000002") << QByteArray("ffffff03");
    QTest::newRow("sent, device 0")
        << qint32(BCS_SENT) << 0 << QByteArray("00000000") << QByteArray("00000000");
}

void tst_FrameCodec::statusAndDevicePatterns()
{
    QFETCH(qint32, status);
    QFETCH(qint32, device);
    QFETCH(QByteArray, statusHex);
    QFETCH(QByteArray, deviceHex);
    BCI_BWCStop stop;
    stop.SetStatus(status);
    stop.SetDevice(device);
    stop.SetSequence(0xFFFFFFFFu);
    const QByteArray frame = encoded(stop);
    QCOMPARE(frame.mid(8, 4).toHex(), QByteArray("ffffffff"));
    QCOMPARE(frame.mid(12, 4).toHex(), statusHex);
    QCOMPARE(frame.mid(16, 4).toHex(), deviceHex);
    const Reading reading = readFrom(frame);
    QCOMPARE(reading.command->GetStatus(), status);
    QCOMPARE(reading.command->GetDevice(), device);
    QCOMPARE(reading.command->GetSequence(), 0xFFFFFFFFu);
}

void tst_FrameCodec::shortPayloadReadsAsZero()
{
    BCI_BWCGetGlobals globals;
    globals.setGlobalUploadMax(-5);
    globals.setGlobalDownloadMax(77);
    globals.setEnabled(true);
    // Keep the header and the first field only.
    QByteArray frame = encoded(globals).left(24);
    qToBigEndian<quint32>(24, frame.data());
    const Reading reading = readFrom(frame);
    QCOMPARE(reading.result, 0);
    auto* read = command_cast<BCI_BWCGetGlobals>(reading.command);
    QCOMPARE(read->globalUploadMax(), -5);
    QCOMPARE(read->globalDownloadMax(), 0);
    QCOMPARE(read->enabled(), false);
}

void tst_FrameCodec::partialHeaderReadsAsZero()
{
    // 14 bytes: the sequence is there, half the status and no device.
    QByteArray frame = header(14, BCI_BWCStart::TypeId, 9, 0x11223344u).left(14);
    const Reading reading = readFrom(frame);
    QCOMPARE(reading.result, 0);
    QCOMPARE(reading.consumed, 14);
    QCOMPARE(reading.command->GetSequence(), 9u);
    QCOMPARE(reading.command->GetStatus(), 0);
    QCOMPARE(reading.command->GetDevice(), 0);
}

void tst_FrameCodec::nullArguments()
{
    BCI_BWCStart start;
    BaseCommandPtr out(new BCI_BWCStart);
    QCOMPARE(BaseCommand::ReadCommand(nullptr, &out), int(BCS_NOT_INITIALIZED));
    QVERIFY(!out);
    QTcpSocket socket;
    QCOMPARE(BaseCommand::WriteCommand(nullptr, &socket), int(BCS_NULL_COMMAND));
    QCOMPARE(BaseCommand::WriteCommand(&start, static_cast<QAbstractSocket*>(nullptr)),
             int(BCS_NOT_INITIALIZED));
    QCOMPARE(start.WritePayload(nullptr), int(BCS_NOT_INITIALIZED));
    int consumed = 99;
    QCOMPARE(start.ReadPayload(nullptr, 0, consumed), int(BCS_NOT_INITIALIZED));
    QCOMPARE(consumed, 0);
    // The stream-style writes skip a null side and write nothing.
    QAbstractSocket* none = nullptr;
    QCOMPARE(none << BaseCommandPtr(new BCI_BWCStart), none);
    QCOMPARE(&(socket << static_cast<const BaseCommand*>(nullptr)), &socket);
    QCOMPARE(&socket << BaseCommandPtr(), &socket);
    QCOMPARE(socket.bytesToWrite(), 0);
}

void tst_FrameCodec::nullRecordWritesNothing()
{
    BCI_BWCSetAppSettings settings; // its entry is still null
    QTcpSocket socket;
    QCOMPARE(BaseCommand::WriteCommand(&settings, &socket), int(BCS_NULL_COMMAND));
    QCOMPARE(socket.bytesToWrite(), 0);
    BCI_BWCEnumApps apps;
    apps.setApps({BWCEntryPtr(new BWCEntry), BWCEntryPtr()});
    QByteArray frame("untouched");
    QCOMPARE(FrameCodec::encode(&apps, &frame), int(BCS_NULL_COMMAND));
    QCOMPARE(frame, QByteArray("untouched"));
}

QTEST_MAIN(tst_FrameCodec)
#include "tst_framecodec.moc"
