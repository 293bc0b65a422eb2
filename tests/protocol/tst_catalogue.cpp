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
    void catalogue();
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

void tst_Catalogue::catalogue()
{
    const QList<quint32> types = AllCommandTypes();
    QCOMPARE(types.size(), 88);
    QCOMPARE(QSet<quint32>(types.begin(), types.end()).size(), 88);
    int session = 0, broadcasts = 0;
    for (quint32 type : types) {
        const BaseCommandPtr command = BaseCommand::GetCmd(int(type));
        QVERIFY2(command, BaseCommand::GetName(int(type)));
        QCOMPARE(command->GetType(), type);
        QCOMPARE(CommandTypeByName(command->GetName()), type);
        QVERIFY(qstrcmp(command->GetName(), "UNKNOWN") != 0);
        session += command->IsProtocolCommand();
        broadcasts += command->HasTypeBits(BWC_BROADCAST_BITS);
        // The family of a number is in its high bits.
        QCOMPARE(command->IsProtocolCommand(), type >= 0x1001 && type <= 0x1003);
        QCOMPARE(command->HasTypeBits(BWC_BROADCAST_BITS), type >= 0x20001 && type <= 0x2000A);
    }
    QCOMPARE(session, 3);
    QCOMPARE(broadcasts, 10);
    QCOMPARE(BaseCommand::GetName(0x8011), "BWCGetGlobals");
    QCOMPARE(BaseCommand::GetName(0x1000A), "rtWanAccessProvider");
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
