// Every command of the catalogue: identity and a lossless round trip
// through the tools' JSON and the frame writer and reader on a real socket pair.

#include "commandjson.h"
#include "commandnames.h"
#include "commands.h"
#include "fieldfiller.h"
#include "framecodec.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// The payload object of a command's JSON line, cut from the text so that
// 64-bit values stay exact.
QString payloadText(BaseCommand& command)
{
    const QString json = CommandJson::toJson(command);
    const QString marker = QStringLiteral("\"payload\":");
    return json.mid(json.indexOf(marker) + marker.size()).chopped(1);
}

} // namespace

class tst_Catalogue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void catalogue_data();
    void catalogue();
    void nothingElse();
    void unknownTypes_data();
    void unknownTypes();
    void commandCast();
    void roundTrip_data();
    void roundTrip();

private:
    QTcpServer m_server;
    QTcpSocket m_writer;
    QTcpSocket* m_reader = nullptr;
};

void tst_Catalogue::initTestCase()
{
    QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
    m_writer.connectToHost(QHostAddress::LocalHost, m_server.serverPort());
    QVERIFY(m_server.waitForNewConnection(5000));
    m_reader = m_server.nextPendingConnection();
    QVERIFY(m_reader);
    QTRY_COMPARE(m_writer.state(), QAbstractSocket::ConnectedState);
}

void tst_Catalogue::cleanupTestCase()
{
    m_writer.close();
    delete m_reader;
}

// The catalogue as written down, independently of the code's own table: each
// family numbers its commands up from its first, with no gaps but the one at
// 0x8018, which is unassigned.
struct Family
{
    quint32 first;
    QStringList names;
};
const Family Catalogue[] = {
    {0x1001, {"InitComm", "Handshake", "CancelCommand"}},
    {0x2001,
     {"MapLSP", "UnmapLSP", "IsLSPMapped", "SetTCPACKDelay", "GetTCPACKDelay", "SetTCPNoDelay",
      "GetTCPNoDelay", "GetProcessName", "IsProcessGame", "SetMTU", "GetMTU", "GetNetStat",
      "GetArp"}},
    {0x4001, {"SetDefaultOffloadMode", "GetDefaultOffloadMode"}},
    {0x8001,
     {"StartFlash",
      "CancelFlash",
      "GetFlashProgress",
      "GetLinkSpeed",
      "SetLinkSpeed",
      "GetDuplex",
      "SetDuplex",
      "GetMAC",
      "SetMAC",
      "GetLEDMode",
      "SetLEDMode",
      "BWCStart",
      "BWCStop",
      "BWCSetDefaults",
      "BWCGetDefaults",
      "BWCSetGlobals",
      "BWCGetGlobals",
      "BWCEnumApps",
      "BWCSetAppSettings",
      "BWCGetAppSettings",
      "BWCRemoveAppSettings",
      "BWCResetAll",
      "BWCStats"}},
    {0x8019,
     {"FWStatsCpu", "FWStatsOffload", "GetProcessInfo", "GetFileStatus", "GetFileIcon",
      "BWCDoSpeedTest", "GetAdapterState", "GetBytesSent", "GetBytesReceived", "GetPacketsSent",
      "GetPacketsReceived"}},
    {0x10001,
     {"GetVersions",          "ResetState",          "EnumDevices",          "GetWirelessStats",
      "rtTotalPacketsRX",     "rtTotalPacketsTX",    "rtTotalBytesRX",       "rtTotalBytesTX",
      "rtActiveConnections",  "rtWanAccessProvider", "rtPhysicalLinkStatus", "setDHCPRelay",
      "getDHCPRelay",         "setDHCPSubNetMask",   "getDHCPSubNetMask",    "setDHCPDomainServers",
      "getDHCPDomainServers", "setMinAddress",       "getMinAddress",        "setMaxAddress",
      "getMaxAddress",        "setIPRouters",        "getIPRouters",         "enumPortForwarding",
      "addForward",           "delForward"}},
    {0x20001,
     {"CardIsBorked", "BWCAppAdded", "BWCAppRemoved", "BWCAppOnline", "BWCAppOffline",
      "BWCSpeedTest", "BWCSpeedTestStatus", "BWCGlobalsChanged", "LinkSpeedChanged",
      "DevicesChanged"}},
    // The service's own extensions, outside the module's catalogue.
    {0x40001, {"BWCAppTotals", "BWCResetTotals"}},
};

void tst_Catalogue::catalogue_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QString>("name");
    for (const Family& family : Catalogue) {
        for (qsizetype i = 0; i < family.names.size(); ++i)
            QTest::newRow(qPrintable(family.names[i]))
                << family.first + quint32(i) << family.names[i];
    }
}

void tst_Catalogue::catalogue()
{
    QFETCH(quint32, type);
    QFETCH(QString, name);
    const BaseCommandPtr command = BaseCommand::GetCmd(int(type));
    QVERIFY(command);
    QCOMPARE(command->GetType(), type);
    QCOMPARE(QString::fromLatin1(BaseCommand::GetName(int(type))), name);
    QCOMPARE(QString::fromLatin1(command->GetName()), name);
    QCOMPARE(CommandTypeByName(qPrintable(name)), type);
    // The family of a number is in its high bits.
    QCOMPARE(command->IsProtocolCommand(), type >= 0x1001 && type <= 0x1003);
    QCOMPARE(command->HasTypeBits(BWC_BROADCAST_BITS), type >= 0x20001 && type <= 0x2000A);
}

void tst_Catalogue::nothingElse()
{
    QList<quint32> listed;
    for (const Family& family : Catalogue) {
        for (qsizetype i = 0; i < family.names.size(); ++i)
            listed << family.first + quint32(i);
    }
    QList<quint32> all = AllCommandTypes();
    std::sort(all.begin(), all.end());
    QCOMPARE(all, listed);
}

void tst_Catalogue::unknownTypes_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("unassigned 0x8018") << 0x8018;
    QTest::newRow("zero") << 0;
    QTest::newRow("gap 0x1004") << 0x1004;
    QTest::newRow("past broadcasts") << 0x2000B;
    QTest::newRow("negative") << -1;
}

void tst_Catalogue::unknownTypes()
{
    QFETCH(int, type);
    QCOMPARE(BaseCommand::GetName(type), "UNKNOWN");
    QTest::ignoreMessage(QtCriticalMsg,
                         qPrintable(QStringLiteral("BaseCommand::GetCmd(%1): unknown command type "
                                                   "requested")
                                        .arg(type)));
    QVERIFY(!BaseCommand::GetCmd(type));
}

void tst_Catalogue::commandCast()
{
    const BaseCommandPtr stats = BaseCommand::GetCmd(BCI_BWCStats::TypeId);
    QVERIFY(command_cast<BCI_BWCStats>(stats));
    QVERIFY(!command_cast<BCI_BWCEnumApps>(stats));
    QVERIFY(!command_cast<BCI_BWCStats>(BaseCommandPtr()));
    QVERIFY(!command_cast<BCI_BWCStats>(static_cast<BaseCommand*>(nullptr)));
    // The cast is by number: a command is what its type says.
    QVERIFY(command_cast<BCI_BWCGlobalsChanged>(BaseCommand::GetCmd(0x20008)));
}

void tst_Catalogue::roundTrip_data()
{
    QTest::addColumn<quint32>("type");
    for (quint32 type : AllCommandTypes())
        QTest::newRow(BaseCommand::GetName(int(type))) << type;
}

// Every field set to a non-default value survives the JSON form of the tools
// and the frame writer and reader on a real socket.
void tst_Catalogue::roundTrip()
{
    QFETCH(quint32, type);
    const BaseCommandPtr original = BaseCommand::GetCmd(int(type));
    const QString defaultJson = CommandJson::toJson(*original);
    FieldFiller filler;
    original->VisitFields(filler);
    original->SetSequence(0xFEDCBA98u);
    original->SetStatus(BCS_SEND_FAILED);
    original->SetDevice(BWC_DEVICE_WIRELESS);
    const QString filledJson = CommandJson::toJson(*original);
    QVERIFY(filledJson != defaultJson);
    QByteArray frame;
    QCOMPARE(FrameCodec::encode(original.data(), &frame), 0);

    QJsonObject fields;
    QCOMPARE(CommandJson::parseObject(payloadText(*original), &fields), QString());
    const BaseCommandPtr fromJson = BaseCommand::GetCmd(int(type));
    QCOMPARE(CommandJson::applyFields(*fromJson, fields), QString());
    QCOMPARE(payloadText(*fromJson), payloadText(*original));

    QCOMPARE(BaseCommand::WriteCommand(original.data(), &m_writer), 0);
    QTRY_VERIFY(m_reader->bytesAvailable() >= frame.size());
    BaseCommandPtr received;
    QCOMPARE(BaseCommand::ReadCommand(m_reader, &received), 0);
    QCOMPARE(m_reader->bytesAvailable(), 0);
    QVERIFY(received.data() != original.data());
    QCOMPARE(CommandJson::toJson(*received), filledJson);
    QByteArray again;
    QCOMPARE(FrameCodec::encode(received.data(), &again), 0);
    QCOMPARE(again.toHex(), frame.toHex());
}

QTEST_MAIN(tst_Catalogue)
#include "tst_catalogue.moc"
