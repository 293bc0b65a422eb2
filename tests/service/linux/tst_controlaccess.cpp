// Who may change settings: bwcd as root on loopback, bwcctl as other users.
// The service tells them apart by the owner of the client's socket.

#include "daemonprocess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestControlAccess : public QObject
{
    Q_OBJECT

private slots:
    void changes_data();
    void changes();
};


void TestControlAccess::changes_data()
{
    // setpriv takes a user's name for its group too: nobody's group is nogroup,
    // so "nobody" is in the group named on bwcd's command line only through
    // its primary group; "daemon" is in neither.
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("regid");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("root") << "root" << "root" << true;
    QTest::newRow("member") << "nobody" << "nogroup" << true;
    QTest::newRow("outsider") << "daemon" << "daemon" << false;
}

void TestControlAccess::changes()
{
    QFETCH(QString, user);
    QFETCH(QString, regid);
    QFETCH(bool, allowed);
    if (::geteuid() != 0)
        QSKIP("needs root to run bwcctl as other users");

    QTemporaryDir dir;
    const QString state = dir.filePath("state.json");
    DaemonProcess daemon;
    QVERIFY(daemon.start(state, {"--control-group", "nogroup"}));

    QProcess process;
    auto run = [&](const QStringList& args, QByteArray* err) {
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=" + user, "--regid=" + regid, "--init-groups",
                                  QStringLiteral(BWCCTL_PATH), "--port",
                                  QString::number(daemon.port())} +
                          args);
        process.waitForFinished(20000);
        *err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    QByteArray err;
    QCOMPARE(run({"limit", "Calvex Music", "up", "1mbps"}, &err), allowed ? 0 : 1);
    // Reads work for everyone.
    QCOMPARE(run({"stats"}, &err), 0);
    QCOMPARE(run({"disable"}, &err), allowed ? 0 : 1);

    QFile file(state);
    if (allowed) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\"enabled\": false"));
    } else {
        // Nothing was written, and the refusal is in the log with the user's name.
        QVERIFY(!file.exists());
        QTRY_VERIFY(daemon.errorOutput().contains("refused BWCStop from user daemon"));
    }
}

QTEST_GUILESS_MAIN(TestControlAccess)
#include "tst_controlaccess.moc"
