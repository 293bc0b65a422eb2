// Every command of the catalogue: identity, defaults and a lossless round trip
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
    void constructedState_data();
    void constructedState();
    void boolDefaults();
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

// The catalogue as written down, independently of the code's own table.
struct Listed
{
    quint32 type;
    const char* name;
};
const Listed Catalogue[] = {
    {0x1001, "InitComm"},
    {0x1002, "Handshake"},
    {0x1003, "CancelCommand"},
    {0x2001, "MapLSP"},
    {0x2002, "UnmapLSP"},
    {0x2003, "IsLSPMapped"},
    {0x2004, "SetTCPACKDelay"},
    {0x2005, "GetTCPACKDelay"},
    {0x2006, "SetTCPNoDelay"},
    {0x2007, "GetTCPNoDelay"},
    {0x2008, "GetProcessName"},
    {0x2009, "IsProcessGame"},
    {0x200A, "SetMTU"},
    {0x200B, "GetMTU"},
    {0x200C, "GetNetStat"},
    {0x200D, "GetArp"},
    {0x4001, "SetDefaultOffloadMode"},
    {0x4002, "GetDefaultOffloadMode"},
    {0x8001, "StartFlash"},
    {0x8002, "CancelFlash"},
    {0x8003, "GetFlashProgress"},
    {0x8004, "GetLinkSpeed"},
    {0x8005, "SetLinkSpeed"},
    {0x8006, "GetDuplex"},
    {0x8007, "SetDuplex"},
    {0x8008, "GetMAC"},
    {0x8009, "SetMAC"},
    {0x800A, "GetLEDMode"},
    {0x800B, "SetLEDMode"},
    {0x800C, "BWCStart"},
    {0x800D, "BWCStop"},
    {0x800E, "BWCSetDefaults"},
    {0x800F, "BWCGetDefaults"},
    {0x8010, "BWCSetGlobals"},
    {0x8011, "BWCGetGlobals"},
    {0x8012, "BWCEnumApps"},
    {0x8013, "BWCSetAppSettings"},
    {0x8014, "BWCGetAppSettings"},
    {0x8015, "BWCRemoveAppSettings"},
    {0x8016, "BWCResetAll"},
    {0x8017, "BWCStats"},
    {0x8019, "FWStatsCpu"},
    {0x801A, "FWStatsOffload"},
    {0x801B, "GetProcessInfo"},
    {0x801C, "GetFileStatus"},
    {0x801D, "GetFileIcon"},
    {0x801E, "BWCDoSpeedTest"},
    {0x801F, "GetAdapterState"},
    {0x8020, "GetBytesSent"},
    {0x8021, "GetBytesReceived"},
    {0x8022, "GetPacketsSent"},
    {0x8023, "GetPacketsReceived"},
    {0x10001, "GetVersions"},
    {0x10002, "ResetState"},
    {0x10003, "EnumDevices"},
    {0x10004, "GetWirelessStats"},
    {0x10005, "rtTotalPacketsRX"},
    {0x10006, "rtTotalPacketsTX"},
    {0x10007, "rtTotalBytesRX"},
    {0x10008, "rtTotalBytesTX"},
    {0x10009, "rtActiveConnections"},
    {0x1000A, "rtWanAccessProvider"},
    {0x1000B, "rtPhysicalLinkStatus"},
    {0x1000C, "setDHCPRelay"},
    {0x1000D, "getDHCPRelay"},
    {0x1000E, "setDHCPSubNetMask"},
    {0x1000F, "getDHCPSubNetMask"},
    {0x10010, "setDHCPDomainServers"},
    {0x10011, "getDHCPDomainServers"},
    {0x10012, "setMinAddress"},
    {0x10013, "getMinAddress"},
    {0x10014, "setMaxAddress"},
    {0x10015, "getMaxAddress"},
    {0x10016, "setIPRouters"},
    {0x10017, "getIPRouters"},
    {0x10018, "enumPortForwarding"},
    {0x10019, "addForward"},
    {0x1001A, "delForward"},
    {0x20001, "CardIsBorked"},
    {0x20002, "BWCAppAdded"},
    {0x20003, "BWCAppRemoved"},
    {0x20004, "BWCAppOnline"},
    {0x20005, "BWCAppOffline"},
    {0x20006, "BWCSpeedTest"},
    {0x20007, "BWCSpeedTestStatus"},
    {0x20008, "BWCGlobalsChanged"},
    {0x20009, "LinkSpeedChanged"},
    {0x2000A, "DevicesChanged"},
};

void tst_Catalogue::catalogue_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QString>("name");
    for (const Listed& listed : Catalogue)
        QTest::newRow(listed.name) << listed.type << QString::fromLatin1(listed.name);
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
    for (const Listed& entry : Catalogue)
        listed << entry.type;
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

void tst_Catalogue::constructedState_data()
{
    QTest::addColumn<quint32>("type");
    for (quint32 type : AllCommandTypes())
        QTest::newRow(BaseCommand::GetName(int(type))) << type;
}

void tst_Catalogue::constructedState()
{
    QFETCH(quint32, type);
    const BaseCommandPtr command = BaseCommand::GetCmd(int(type));
    QCOMPARE(command->GetStatus(), qint32(BCS_SUCCESS));
    QCOMPARE(command->GetSequence(), 0u);
    QCOMPARE(command->GetDevice(), BWC_DEVICE_DEFAULT);
    QVERIFY(command->GetUuid().isNull());
    QVERIFY(command->MatchesDevice(quint32(-254), 0));
    QVERIFY(!command->MatchesDevice(quint32(-253), 0));
    command->SetDevice(BWC_DEVICE_ANY);
    QVERIFY(command->MatchesDevice(1, 2));
}

void tst_Catalogue::boolDefaults()
{
    QStringList trueFields;
    const QRegularExpression trueField(QStringLiteral("\"(\\w+)\":true"));
    for (quint32 type : AllCommandTypes()) {
        const BaseCommandPtr command = BaseCommand::GetCmd(int(type));
        auto matches = trueField.globalMatch(payloadText(*command));
        while (matches.hasNext())
            trueFields.append(QLatin1String(command->GetName()) + QLatin1Char('.') +
                              matches.next().captured(1));
    }
    trueFields.sort();
    QCOMPARE(trueFields, QStringList({QStringLiteral("GetDuplex.fullDuplex"),
                                      QStringLiteral("IsLSPMapped.mapped"),
                                      QStringLiteral("SetDuplex.fullDuplex")}));
}

void tst_Catalogue::roundTrip_data()
{
    constructedState_data();
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
