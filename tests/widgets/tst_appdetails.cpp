// The details dialog: its texts from the row's process description, the size
// in whole units, and its result by each way of closing it.

#include "appdetails.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestAppDetails : public QObject
{
    Q_OBJECT

private slots:
    void formatSize_data();
    void formatSize();
    void showsProcess();
    void emptyMembersClearPlaceholders();
    void result_data();
    void result();
};

void TestAppDetails::formatSize_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << quint64(0) << "0 Bytes";
    QTest::newRow("largest in bytes") << quint64(1023) << "1023 Bytes";
    QTest::newRow("one KB") << quint64(1024) << "1 KB";
    QTest::newRow("cut down, not rounded") << quint64(1536) << "1 KB";
    QTest::newRow("largest in KB") << quint64(1048575) << "1023 KB";
    QTest::newRow("one MB") << quint64(1048576) << "1 MB";
    QTest::newRow("just under two MB") << quint64(2 * 1048576 - 1) << "1 MB";
    QTest::newRow("several GB") << quint64(5) * 1024 * 1048576 << "5120 MB";
    QTest::newRow("past 32 bits") << (quint64(1) << 40) << "1048576 MB";
}

void TestAppDetails::formatSize()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(AppDetails::formatSize(bytes), text);

    // and the dialog shows it
    Application row;
    Process process;
    process.fileSize = bytes;
    row.setProcess(process);
    AppDetails dialog(row.appPtr());
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("labelSize"))->text(), text);
}

void TestAppDetails::showsProcess()
{
    Application row;
    row.setName(QStringLiteral("Mail Client"));
    Process process;
    process.filePath = QStringLiteral("C:/Apps/mail.exe");
    process.productVersion = QStringLiteral("4, 2, 0, 17");
    process.fileVersion = QStringLiteral("4,2,0,1733");
    process.description = QStringLiteral("Reads mail");
    process.company = QStringLiteral("Example Ltd.");
    process.internalName = QStringLiteral("not shown");
    process.comments = QStringLiteral("Checks for mail every ten minutes.");
    process.copyright = QStringLiteral("(c) Example");
    process.trademark = QStringLiteral("Mail(tm)");
    row.setProcess(process);
    AppDetails dialog(row.appPtr());

    const auto text = [&](const char* name) {
        return dialog.findChild<QLabel*>(QLatin1String(name))->text();
    };
    QCOMPARE(text("labelAppName"), QStringLiteral("Mail Client"));
    QCOMPARE(text("labelFilePath"), process.filePath);
    QCOMPARE(text("labelFileVersion"), QStringLiteral("4.2.0.1733"));
    QCOMPARE(text("labelProductVersion"), QStringLiteral("4. 2. 0. 17"));
    QCOMPARE(text("labelDescription"), process.description);
    QCOMPARE(text("labelCompany"), process.company);
    QCOMPARE(text("labelComments"), process.comments);
    QCOMPARE(text("labelCopyright"), process.copyright);
    QCOMPARE(text("labelTrademark"), process.trademark);
    QVERIFY(dialog.isModal());
    QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
}

void TestAppDetails::emptyMembersClearPlaceholders()
{
    Application row;
    AppDetails dialog(row.appPtr());
    for (const char* name : {"labelAppName", "labelFilePath", "labelFileVersion",
                             "labelDescription", "labelProductVersion", "labelComments",
                             "labelCompany", "labelCopyright", "labelTrademark"}) {
        QVERIFY2(dialog.findChild<QLabel*>(QLatin1String(name))->text().isEmpty(), name);
    }
    // A dialog for no row at all shows nothing rather than failing.
    AppDetails orphan{AppPtr()};
    QCOMPARE(orphan.findChild<QLabel*>(QStringLiteral("labelSize"))->text(),
             QStringLiteral("0 Bytes"));
}

void TestAppDetails::result_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");

    QTest::newRow("Hide Until Active") << "button" << 1;
    QTest::newRow("Return, the default button") << "return" << 1;
    QTest::newRow("Escape") << "escape" << 0;
    QTest::newRow("window closed") << "close" << 0;
}

void TestAppDetails::result()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    Application row;
    AppDetails dialog(row.appPtr());
    QCOMPARE(dialog.result(), 0);

    // Runs inside exec(), as the view runs the dialog.
    QTimer::singleShot(0, &dialog, [&] {
        if (how == QLatin1String("button"))
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("buttonDelete")),
                              Qt::LeftButton);
        else if (how == QLatin1String("return"))
            QTest::keyClick(&dialog, Qt::Key_Return);
        else if (how == QLatin1String("escape"))
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
    });
    QCOMPARE(dialog.exec(), result);
    QCOMPARE(dialog.result(), result);
}

QTEST_MAIN(TestAppDetails)
#include "tst_appdetails.moc"
