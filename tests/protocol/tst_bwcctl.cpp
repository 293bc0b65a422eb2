// bwcctl's offline verbs, run in-process: the JSON line of decode, header
// options of encode, and bad input refused with its exit code.

#include "terminaltext.h"
#include "texttable.h"
#include "verbs.h"

#include <QtTest>

namespace {

struct Run
{
    int code;
    QString out;
    QString err;
};

Run runVerb(VerbRunner verb, const QStringList& args)
{
    Run run{0, {}, {}};
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    CtlContext context{args, out, err};
    run.code = verb(context);
    out.flush();
    err.flush();
    return run;
}

} // namespace

class tst_Bwcctl : public QObject
{
    Q_OBJECT

private slots:
    void decodeExample();
    void integersKeepSignedness();
    void encodeFillsRecords();
    void encodeRefuses_data();
    void encodeRefuses();
    void decodeRefuses_data();
    void decodeRefuses();
    void decodeWarnsButPrints();
    void namesPrintedAsText_data();
    void namesPrintedAsText();
};

void tst_Bwcctl::decodeExample()
{
    const Run run = runVerb(
        RunDecode,
        {QStringLiteral("0000001d 00008011 00000003 00000001 ffffff02 00000000 ffffffff 01")});
    QCOMPARE(run.code, int(ExitOk));
    QCOMPARE(run.out.trimmed(),
             QStringLiteral("{\"type\":\"BWCGetGlobals\",\"typeId\":32785,\"sequence\":3,"
                            "\"status\":1,\"device\":-254,\"payload\":{\"globalUploadMax\":0,"
                            "\"globalDownloadMax\":-1,\"enabled\":true}}"));
    QVERIFY(run.err.isEmpty());
}

void tst_Bwcctl::integersKeepSignedness()
{
    const Run encode = runVerb(RunEncode, {QStringLiteral("FWStatsOffload"),
                                           QStringLiteral("{\"offload0\":4294967295}"),
                                           QStringLiteral("--status"), QStringLiteral("-64999"),
                                           QStringLiteral("--device"), QStringLiteral("-253")});
    QCOMPARE(encode.code, int(ExitOk));
    QVERIFY(
        encode.out.startsWith(QStringLiteral("000000240000801a00000000ffff0219ffffff03ffffffff")));
    const Run decode = runVerb(RunDecode, {encode.out});
    QVERIFY(decode.out.contains(QStringLiteral("\"status\":-64999,\"device\":-253")));
    QVERIFY(decode.out.contains(QStringLiteral("\"offload0\":4294967295")));
}

void tst_Bwcctl::encodeFillsRecords()
{
    // Records the JSON leaves out are default ones; the members it names are kept.
    const Run cpu = runVerb(RunEncode, {QStringLiteral("FWStatsCpu")});
    QCOMPARE(cpu.code, int(ExitOk));
    const Run set = runVerb(RunEncode, {QStringLiteral("BWCSetAppSettings"),
                                        QStringLiteral("{\"entry\":{\"id\":\"x\"}}")});
    QCOMPARE(set.code, int(ExitOk));
    const Run back = runVerb(RunDecode, {set.out.trimmed()});
    QVERIFY2(back.out.contains(QStringLiteral("\"id\":\"x\"")), qPrintable(back.out));
}

void tst_Bwcctl::encodeRefuses_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no name") << QStringList() << QStringLiteral("usage");
    QTest::newRow("unknown name") << QStringList{QStringLiteral("BWCFly")}
                                  << QStringLiteral("unknown command \"BWCFly\"");
    QTest::newRow("malformed json")
        << QStringList{QStringLiteral("BWCStart"), QStringLiteral("{")} << QStringLiteral("JSON");
    QTest::newRow("json array") << QStringList{QStringLiteral("BWCStart"), QStringLiteral("[]")}
                                << QStringLiteral("JSON");
    QTest::newRow("unknown field")
        << QStringList{QStringLiteral("BWCStart"), QStringLiteral("{\"speed\":1}")}
        << QStringLiteral("unknown field \"speed\"");
    QTest::newRow("bool as number")
        << QStringList{QStringLiteral("BWCGetGlobals"), QStringLiteral("{\"enabled\":1}")}
        << QStringLiteral("field \"enabled\"");
    QTest::newRow("negative unsigned")
        << QStringList{QStringLiteral("CancelCommand"), QStringLiteral("{\"targetSequence\":-1}")}
        << QStringLiteral("field \"targetSequence\"");
    QTest::newRow("fraction") << QStringList{QStringLiteral("SetMTU"),
                                             QStringLiteral("{\"mtu\":1.5}")}
                              << QStringLiteral("field \"mtu\"");
    QTest::newRow("qint32 overflow")
        << QStringList{QStringLiteral("SetMTU"), QStringLiteral("{\"mtu\":2147483648}")}
        << QStringLiteral("field \"mtu\"");
    QTest::newRow("nested member")
        << QStringList{QStringLiteral("BWCSetAppSettings"),
                       QStringLiteral("{\"entry\":{\"uploadMax\":\"x\"}}")}
        << QStringLiteral("entry.uploadMax");
    QTest::newRow("bad uuid") << QStringList{QStringLiteral("Handshake"),
                                             QStringLiteral("{\"sessionId\":\"nope\"}")}
                              << QStringLiteral("UUID");
    QTest::newRow("null record") << QStringList{QStringLiteral("BWCSetAppSettings"),
                                                QStringLiteral("{\"entry\":null}")}
                                 << QStringLiteral("refused");
    QTest::newRow("bad sequence") << QStringList{QStringLiteral("BWCStart"),
                                                 QStringLiteral("--sequence"), QStringLiteral("x")}
                                  << QStringLiteral("--sequence");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("BWCStart"), QStringLiteral("--speed"), QStringLiteral("1")}
        << QStringLiteral("unknown option --speed");
}

void tst_Bwcctl::encodeRefuses()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Run run = runVerb(RunEncode, args);
    QCOMPARE(run.code, int(ExitUsage));
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

void tst_Bwcctl::decodeRefuses_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("length 11") << QStringLiteral("0000000b00008011") << int(ExitRefused)
                               << QStringLiteral("error -64994 BCS_INVALID");
    QTest::newRow("incomplete") << QStringLiteral("0000002800008011") << int(ExitRefused)
                                << QStringLiteral("error -64995 BCS_INCOMPLETE");
    QTest::newRow("not hex") << QStringLiteral("00zz") << int(ExitUsage)
                             << QStringLiteral("hexadecimal");
    QTest::newRow("odd digits") << QStringLiteral("000") << int(ExitUsage)
                                << QStringLiteral("odd number");
}

void tst_Bwcctl::decodeRefuses()
{
    QFETCH(QString, hex);
    QFETCH(int, code);
    QFETCH(QString, message);
    const Run run = runVerb(RunDecode, {hex});
    QCOMPARE(run.code, code);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

void tst_Bwcctl::decodeWarnsButPrints()
{
    QTest::ignoreMessage(QtWarningMsg, "BaseCommand::ReadCommand(): ignoring extraneous data (2 "
                                       "bytes) for command CancelCommand (4099)");
    const Run run = runVerb(
        RunDecode, {QStringLiteral("0000001a000010030000000000000001ffffff0200000009abcd")});
    QCOMPARE(run.code, int(ExitOk));
    QVERIFY(run.out.contains(QStringLiteral("\"targetSequence\":9")));
}

void tst_Bwcctl::namesPrintedAsText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("printed");
    QTest::newRow("plain") << "Web Browser"
                           << "Web Browser";
    QTest::newRow("accents and CJK stay") << QString::fromUtf8("Caf\xc3\xa9 \xe6\xbc\xa2")
                                          << QString::fromUtf8("Caf\xc3\xa9 \xe6\xbc\xa2");
    QTest::newRow("colour and title sequences") << "ev\x1b[31mRED\x1b]0;TITLE\x07"
                                                << "ev\\x1b[31mRED\\x1b]0;TITLE\\x07";
    QTest::newRow("newline, tab, delete") << "a\nb\tc\x7f"
                                          << "a\\x0ab\\x09c\\x7f";
    QTest::newRow("a C1 control (CSI)") << QString("a") + QChar(0x9b) + "2J"
                                        << "a\\u009b2J";
    QTest::newRow("a writing-direction override") << QString("x") + QChar(0x202e) + "gpj.exe"
                                                  << "x\\u202egpj.exe";
    QTest::newRow("invalid UTF-8 as the service decodes it")
        << QString::fromUtf8("bad\xff\xfe") << QString::fromUtf8("bad\xef\xbf\xbd\xef\xbf\xbd");
    QTest::newRow("a lone surrogate") << QString("s") + QChar(0xd800) << "s\\ud800";
    QTest::newRow("backslashes stay") << "C:\\Program Files\\x.exe"
                                      << "C:\\Program Files\\x.exe";
}

// Names and paths come from users: a table carries none of their controls.
void tst_Bwcctl::namesPrintedAsText()
{
    QFETCH(QString, name);
    QFETCH(QString, printed);
    QCOMPARE(TerminalText::escape(name), printed);
    TextTable table({"NAME", "PATH"});
    table.addRow({name, "/home/u/" + name});
    QString text;
    QTextStream stream(&text);
    table.print(stream);
    for (const QChar c : std::as_const(text)) {
        QVERIFY2(c == QLatin1Char('\n') || (c.unicode() >= 0x20 && c.unicode() != 0x7f &&
                                            (c.unicode() < 0x80 || c.unicode() > 0x9f)),
                 qPrintable(QString::number(c.unicode(), 16)));
    }
    QVERIFY(text.contains(printed));
}

QTEST_MAIN(tst_Bwcctl)
#include "tst_bwcctl.moc"
