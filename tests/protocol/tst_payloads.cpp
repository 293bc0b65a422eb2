// Payload layouts byte by byte, and readers fed hostile counts and lengths.

#include "commands.h"
#include "framecodec.h"

#include <QBuffer>
#include <QPainter>
#include <QtEndian>
#include <QtTest>

#if defined(__GLIBC__)
#include <malloc.h>
#define BWC_HAVE_MALLINFO 1
#endif

namespace {

QByteArray encoded(const BaseCommand& command)
{
    QByteArray frame;
    return FrameCodec::encode(&command, &frame) == 0 ? frame : QByteArray();
}

QByteArray payloadOf(const BaseCommand& command)
{
    return encoded(command).mid(BaseCommand::HeaderLength);
}

// A frame of a command type around a hand-made payload.
QByteArray frameAround(quint32 type, const QByteArray& payload)
{
    QByteArray frame(20, '\0');
    qToBigEndian<quint32>(quint32(20 + payload.size()), frame.data());
    qToBigEndian<quint32>(type, frame.data() + 4);
    qToBigEndian<quint32>(1, frame.data() + 12);
    return frame + payload;
}

BaseCommandPtr decoded(const QByteArray& frame)
{
    BaseCommandPtr command;
    qint64 used = 0;
    const int result = FrameCodec::decode(frame, &command, &used);
    return result == 0 ? command : BaseCommandPtr();
}

QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

} // namespace

class tst_Payloads : public QObject
{
    Q_OBJECT

private slots:
    void frameSizes_data();
    void frameSizes();
    void emptyEntryIs49Bytes();
    void entryRepeatsExtraAndPath();
    void statEntrySize_data();
    void statEntrySize();
    void devicePatterns();
    void listStopsAtEndOfData();
    void hostileFramesStaySmall_data();
    void hostileFramesStaySmall();
    void hostileStrings_data();
    void hostileStrings();
    void hostilePicture();
};

void tst_Payloads::frameSizes_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<int>("size");
    QTest::newRow("InitComm") << BCI_InitComm::TypeId << 20;
    QTest::newRow("Handshake") << BCI_Handshake::TypeId << 38;
    QTest::newRow("CancelCommand") << BCI_CancelCommand::TypeId << 24;
    QTest::newRow("BWCEnumApps") << BCI_BWCEnumApps::TypeId << 24;
    QTest::newRow("BWCStats") << BCI_BWCStats::TypeId << 24;
    QTest::newRow("EnumDevices") << BCI_EnumDevices::TypeId << 24;
    QTest::newRow("DevicesChanged") << BCI_DevicesChanged::TypeId << 24;
    QTest::newRow("GetVersions") << BCI_GetVersions::TypeId << 44;
    QTest::newRow("GetNetStat") << BCI_GetNetStat::TypeId << 27;
    QTest::newRow("GetArp") << BCI_GetArp::TypeId << 28;
    QTest::newRow("BWCGetGlobals") << BCI_BWCGetGlobals::TypeId << 29;
    QTest::newRow("BWCSetGlobals") << BCI_BWCSetGlobals::TypeId << 28;
    QTest::newRow("BWCSetDefaults") << BCI_BWCSetDefaults::TypeId << 36;
    QTest::newRow("GetFileIcon") << BCI_GetFileIcon::TypeId << 28;
    QTest::newRow("GetBytesSent") << BCI_GetBytesSent::TypeId << 28;
    QTest::newRow("GetWirelessStats") << BCI_GetWirelessStats::TypeId << 44;
}

void tst_Payloads::frameSizes()
{
    QFETCH(quint32, type);
    QFETCH(int, size);
    const BaseCommandPtr command = BaseCommand::GetCmd(int(type));
    QCOMPARE(encoded(*command).size(), size);
}

void tst_Payloads::emptyEntryIs49Bytes()
{
    BCI_BWCSetAppSettings settings;
    BWCEntryPtr entry(new BWCEntry);
    entry->id = entry->path = QString(QLatin1String(""));
    settings.setEntry(entry);
    const QByteArray payload = payloadOf(settings);
    QCOMPARE(payload.size(), 49);
    // Three empty strings: a zero length word each (not the null marker).
    QCOMPARE(payload.left(4).toHex(), QByteArray("00000000"));
    QCOMPARE(payload.mid(36, 4).toHex(), QByteArray("00000000"));
    QCOMPARE(payload.mid(45, 4).toHex(), QByteArray("00000000"));
}

void tst_Payloads::entryRepeatsExtraAndPath()
{
    BCI_BWCAppAdded added;
    BWCEntryPtr entry(new BWCEntry);
    entry->id = QStringLiteral("k");
    entry->extra = 0x0A0B0C0D;
    entry->path = QStringLiteral("C:/x.exe");
    entry->highest = true;
    added.setEntry(entry);
    const QByteArray p = payloadOf(added);
    // id(4+2) idList(4) gid(4) lists(4+4) four ints(16): extra at 34, path at 38.
    const int pathSize = 4 + 2 * 8;
    QCOMPARE(p.mid(34, 4).toHex(), QByteArray("0a0b0c0d"));
    QCOMPARE(p.mid(38 + pathSize, 4), p.mid(34, 4));
    QCOMPARE(p.at(42 + pathSize), '\x01');
    QCOMPARE(p.mid(43 + pathSize, pathSize), p.mid(38, pathSize));
    QCOMPARE(p.size(), 43 + 2 * pathSize);

    // The reader keeps the second copies.
    QByteArray tampered = encoded(added);
    qToBigEndian<qint32>(0x11, tampered.data() + 20 + 38 + pathSize);
    tampered[20 + 43 + pathSize + 4 + 1] = 'D';
    const BaseCommandPtr readCommand = decoded(tampered);
    auto* read = command_cast<BCI_BWCAppAdded>(readCommand);
    QVERIFY(read);
    QCOMPARE(read->entry()->extra, 0x11);
    QCOMPARE(read->entry()->path, QStringLiteral("D:/x.exe"));
    QCOMPARE(read->entry()->highest, true);
}

void tst_Payloads::statEntrySize_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("empty") << QString(QLatin1String(""));
    QTest::newRow("five units") << QStringLiteral("abcde");
    QTest::newRow("surrogate pair") << QStringLiteral("\U0001F600");
}

void tst_Payloads::statEntrySize()
{
    QFETCH(QString, id);
    BCI_BWCStats stats;
    BWCStatEntryPtr line(new BWCStatEntry);
    line->id = id;
    line->sentRate = 0xFFFFFFFFu;
    line->isTotal = true;
    stats.setStats({line});
    const QByteArray p = payloadOf(stats);
    QCOMPARE(p.size(), 4 + 13 + 2 * id.size());
    const BaseCommandPtr readCommand = decoded(encoded(stats));
    auto* read = command_cast<BCI_BWCStats>(readCommand);
    QCOMPARE(read->stats().size(), 1);
    QCOMPARE(read->stats().at(0)->id, id);
    QCOMPARE(read->stats().at(0)->sentRate, 0xFFFFFFFFu);
    QVERIFY(read->stats().at(0)->isTotal);
}

void tst_Payloads::devicePatterns()
{
    BCI_DevicesChanged changed;
    DeviceInfoPtr device(new DeviceInfo);
    device->number = 1;
    device->deviceId = quint32(-253);
    device->flags = {true, false};
    changed.setDevices({device});
    const QByteArray p = payloadOf(changed);
    QCOMPARE(p.mid(8, 4).toHex(), QByteArray("ffffff03"));
    QCOMPARE(p.right(6).toHex(), QByteArray("000000020100"));
    const BaseCommandPtr readCommand = decoded(encoded(changed));
    auto* read = command_cast<BCI_DevicesChanged>(readCommand);
    QCOMPARE(read->devices().at(0)->flags, QList<bool>({true, false}));
    QCOMPARE(qint32(read->devices().at(0)->deviceId), -253);
}

void tst_Payloads::listStopsAtEndOfData()
{
    BCI_BWCStats stats;
    QList<BWCStatEntryPtr> lines;
    for (int i = 0; i < 2; ++i) {
        BWCStatEntryPtr line(new BWCStatEntry);
        line->id = QString::number(i);
        lines.append(line);
    }
    stats.setStats(lines);
    QByteArray payload = payloadOf(stats);
    payload.replace(0, 4, be32(5));
    const BaseCommandPtr readCommand = decoded(frameAround(BCI_BWCStats::TypeId, payload));
    auto* read = command_cast<BCI_BWCStats>(readCommand);
    QVERIFY(read);
    QCOMPARE(read->stats().size(), 2);
    QCOMPARE(read->stats().at(1)->id, QStringLiteral("1"));
}

void tst_Payloads::hostileFramesStaySmall_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("payload");
    const QByteArray zeros(100000 - 24, '\0');
    const QByteArray ones(100000 - 24, '\xff');
    const QByteArray huge = be32(0xFFFFFFFFu);
    QTest::newRow("apps of zeros") << BCI_BWCEnumApps::TypeId << huge + zeros;
    QTest::newRow("stats of zeros") << BCI_BWCStats::TypeId << huge + zeros;
    QTest::newRow("devices of zeros") << BCI_EnumDevices::TypeId << huge + zeros;
    QTest::newRow("forwards of zeros") << BCI_enumPortForwarding::TypeId << huge + zeros;
    QTest::newRow("arp lines of zeros")
        << BCI_GetArp::TypeId << be32(0) + huge + zeros.left(zeros.size() - 4);
    QTest::newRow("stats of null markers") << BCI_BWCStats::TypeId << huge + ones;
    QTest::newRow("apps of null markers") << BCI_BWCEnumApps::TypeId << huge + ones;
    QTest::newRow("one app, endless id list")
        << BCI_BWCEnumApps::TypeId << be32(1) + be32(0) + huge + zeros.left(zeros.size() - 8);
    QTest::newRow("one device, endless flags")
        << BCI_EnumDevices::TypeId
        << be32(1) + QByteArray(16, '\0') + huge + zeros.left(zeros.size() - 20);
}

// Whatever the counts claim, a frame of 100000 bytes costs a small multiple of that.
void tst_Payloads::hostileFramesStaySmall()
{
#ifndef BWC_HAVE_MALLINFO
    QSKIP("needs glibc's allocator statistics");
#else
    QFETCH(quint32, type);
    QFETCH(QByteArray, payload);
    const QByteArray frame = frameAround(type, payload);
    QCOMPARE(frame.size(), 100000);
    // Small blocks come from the arenas, large ones are mapped on their own.
    const auto inUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    const size_t before = inUse();
    const BaseCommandPtr command = decoded(frame);
    const size_t held = inUse() - before;
    QVERIFY(command);
    QVERIFY2(held < 16 * size_t(frame.size()), qPrintable(QString::number(held)));
#endif
}

void tst_Payloads::hostileStrings_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("pathIsNull");
    QTest::addColumn<bool>("leavesBytes");
    QTest::newRow("length past the frame")
        << be32(0x7FFFFFF0u) + QByteArray(64, 'a') << true << false;
    QTest::newRow("odd length") << be32(5) + QByteArray(64, 'a') << true << true;
    QTest::newRow("null marker") << be32(0xFFFFFFFFu) << true << false;
    QTest::newRow("two units") << be32(4) + QByteArray("\0a\0b", 4) << false << false;
}

void tst_Payloads::hostileStrings()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, pathIsNull);
    QFETCH(bool, leavesBytes);
    if (leavesBytes)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("extraneous")));
    const BaseCommandPtr readCommand = decoded(frameAround(BCI_GetFileIcon::TypeId, payload));
    auto* read = command_cast<BCI_GetFileIcon>(readCommand);
    QVERIFY(read);
    QCOMPARE(read->path().isNull(), pathIsNull);
    if (!pathIsNull)
        QCOMPARE(read->path(), QStringLiteral("ab"));
    QVERIFY(read->icon().isNull());
}

void tst_Payloads::hostilePicture()
{
    // A valid PNG signature and header that claims 60000 x 60000 pixels.
    QImage small(1, 1, QImage::Format_RGB32);
    small.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(small.save(&buffer, "PNG"));
    qToBigEndian<quint32>(60000, png.data() + 16);
    qToBigEndian<quint32>(60000, png.data() + 20);
    const QByteArray payload = be32(0xFFFFFFFFu) + be32(1) + png;
    const BaseCommandPtr readCommand = decoded(frameAround(BCI_GetFileIcon::TypeId, payload));
    auto* read = command_cast<BCI_GetFileIcon>(readCommand);
    QVERIFY(read);
    QVERIFY(read->icon().isNull());

    // A reasonable icon passes.
    BCI_GetFileIcon icon;
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30, 128));
    icon.setIcon(QPixmap::fromImage(image));
    const QByteArray frame = encoded(icon);
    QCOMPARE(frame.mid(24, 4).toHex(), QByteArray("00000001"));
    QCOMPARE(frame.mid(28, 4), QByteArray("\x89PNG"));
    const BaseCommandPtr backCommand = decoded(frame);
    auto* back = command_cast<BCI_GetFileIcon>(backCommand);
    QCOMPARE(back->icon().size(), QSize(32, 32));
    const QColor pixel = back->icon().toImage().pixelColor(5, 5);
    QCOMPARE(pixel.alpha(), 128);
    QVERIFY(qAbs(pixel.green() - 200) <= 1); // premultiplied alpha rounds
}

QTEST_MAIN(tst_Payloads)
#include "tst_payloads.moc"
