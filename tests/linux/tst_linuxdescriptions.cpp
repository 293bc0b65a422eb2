#include "appidentity.h"
#include "appnumbering.h"
#include "cgroupfs.h"
#include "desktopindex.h"
#include "processdescriber.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// How the Linux backend names and describes programs, on files made by the test.
class TestLinuxDescriptions : public QObject
{
    Q_OBJECT
private slots:
    void identity_data();
    void identity();
    void numbering();
    void cgroupScope_data();
    void cgroupScope();
    void describe_data();
    void describe();
    void homeEntries_data();
    void homeEntries();

private:
    QTemporaryDir m_dir;
};

void TestLinuxDescriptions::identity_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<QString>("expected");
    const QString cwd = QStringLiteral("/home/ann/work");
    QTest::newRow("a compiled program")
        << "/usr/bin/curl" << QStringList{"curl", "-O", "x"} << "/usr/bin/curl";
    QTest::newRow("python script, relative")
        << "/usr/bin/python3.11" << QStringList{"python3", "-u", "-W", "ignore", "sync.py", "-v"}
        << cwd + "/sync.py";
    QTest::newRow("python module stays the interpreter")
        << "/usr/bin/python3.11" << QStringList{"python3", "-m", "http.server"}
        << "/usr/bin/python3.11";
    QTest::newRow("shell script from its #! line")
        << "/usr/bin/bash" << QStringList{"/bin/bash", "/opt/backup/run.sh", "--all"}
        << "/opt/backup/run.sh";
    QTest::newRow("shell -c stays the shell")
        << "/usr/bin/dash" << QStringList{"sh", "-c", "curl x"} << "/usr/bin/dash";
    QTest::newRow("interactive shell")
        << "/usr/bin/bash" << QStringList{"-bash"} << "/usr/bin/bash";
    QTest::newRow("java jar") << "/usr/lib/jvm/java-17/bin/java"
                              << QStringList{"java", "-Xmx1g", "-jar", "../tools/app.jar"}
                              << "/home/ann/tools/app.jar";
    QTest::newRow("perl after --")
        << "/usr/bin/perl" << QStringList{"perl", "--", "/srv/x.pl"} << "/srv/x.pl";
    QTest::newRow("node") << "/usr/bin/node" << QStringList{"node", "-r", "dotenv", "server.js"}
                          << cwd + "/server.js";
}

void TestLinuxDescriptions::identity()
{
    QFETCH(QString, exe);
    QFETCH(QStringList, argv);
    QFETCH(QString, expected);
    QCOMPARE(AppIdentity::resolve(exe, argv, QStringLiteral("/home/ann/work")), expected);
}

void TestLinuxDescriptions::numbering()
{
    AppNumbering numbers;
    QCOMPARE(numbers.numberFor("/usr/bin/a"), 1u);
    QCOMPARE(numbers.numberFor("/usr/bin/b"), 2u);
    QCOMPARE(numbers.numberFor("/usr/bin/a"), 1u);
    QCOMPARE(numbers.find("/usr/bin/A"), 0u);
    QCOMPARE(numbers.pathOf(2), QString("/usr/bin/b"));
    QVERIFY(numbers.pathOf(0).isNull());
    QVERIFY(numbers.pathOf(3).isNull());

    // A released number is never taken again, even when no other is left;
    // its path comes back under a new one.
    AppNumbering few(4);
    for (const char* path : {"/a", "/b", "/c"})
        QVERIFY(few.numberFor(path) != 0);
    few.release(2);
    QVERIFY(few.pathOf(2).isNull());
    QCOMPARE(few.find("/b"), 0u);
    QCOMPARE(few.numberFor("/e"), 0u);
    QCOMPARE(few.numberFor("/b"), 0u);
    AppNumbering many;
    QCOMPARE(many.numberFor("/a"), 1u);
    many.release(1);
    QCOMPARE(many.numberFor("/a"), 2u);
    QCOMPARE(many.numberFor("/b"), 3u);
}

void TestLinuxDescriptions::cgroupScope_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("under");
    QTest::addColumn<bool>("within");
    QTest::newRow("root holds all") << "/user.slice/a"
                                    << "/" << true;
    QTest::newRow("itself") << "/lab"
                            << "/lab" << true;
    QTest::newRow("below") << "/lab/x"
                           << "/lab" << true;
    QTest::newRow("a sibling with the same start") << "/lab2"
                                                   << "/lab" << false;
    QTest::newRow("gone") << QString() << "/lab" << false;
}

void TestLinuxDescriptions::cgroupScope()
{
    QFETCH(QString, path);
    QFETCH(QString, under);
    QFETCH(bool, within);
    QCOMPARE(CgroupFs::isWithin(path, under), within);
}

void TestLinuxDescriptions::describe_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("company");
    QTest::addColumn<QString>("comments");
    QTest::addColumn<QRgb>("iconPixel"); // 0: a drawn icon

    QTest::newRow("desktop entry and package") << "bin/mailer"
                                               << "Mailer"
                                               << "2.4-1"
                                               << "Ann Packager"
                                               << "Read your mail" << qRgb(255, 0, 0);
    QTest::newRow("package only") << "bin/fetcher"
                                  << "fetcher"
                                  << "1.0"
                                  << "Bo Maint"
                                  << "fetches things" << QRgb(0);
    QTest::newRow("neither") << "bin/plain"
                             << "plain"
                             << ""
                             << ""
                             << "" << QRgb(0);
    QTest::newRow("script whose entry runs it through python") << "bin/tool.py"
                                                               << "Tool"
                                                               << ""
                                                               << ""
                                                               << "" << QRgb(0);
    // Relative to the folder this test runs in, as bwcd's own would be: an
    // entry has no folder of its own to run a script from.
    QTest::newRow("script an entry names by a relative path") << "bin/relative.py"
                                                              << "relative.py"
                                                              << ""
                                                              << ""
                                                              << "" << QRgb(0);
    const QString python = QFileInfo(QStandardPaths::findExecutable("python3")).canonicalFilePath();
    if (!python.isEmpty()) {
        QTest::newRow("python itself is not that entry")
            << python << QFileInfo(python).fileName() << ""
            << ""
            << "" << QRgb(0);
    }
}

// Never an empty description; entry and package fields where they exist.
void TestLinuxDescriptions::describe()
{
    QFETCH(QString, file);
    QFETCH(QString, description);
    QFETCH(QString, version);
    QFETCH(QString, company);
    QFETCH(QString, comments);
    QFETCH(QRgb, iconPixel);
    const QString root = m_dir.path();
    const auto write = [&](const QString& name, const QByteArray& text) {
        QDir().mkpath(QFileInfo(root + "/" + name).path());
        QFile out(root + "/" + name);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text);
    };
    write("bin/mailer", QByteArray(1234, 'x'));
    write("bin/fetcher", "x");
    write("bin/plain", "x");
    write("apps/mailer.desktop",
          "[Desktop Entry]\nName=Mailer\nComment=Read your mail\nIcon=mailer\nExec=env LANG=C " +
              root.toUtf8() + "/bin/mailer %u\n[Desktop Action New]\nName=Other\n");
    write("bin/tool.py", "x");
    write("apps/tool.desktop",
          "[Desktop Entry]\nName=Tool\nExec=python3 -u " + root.toUtf8() + "/bin/tool.py\n");
    write("bin/relative.py", "x");
    write("apps/relative.desktop",
          "[Desktop Entry]\nName=Relative\nExec=python3 " +
              QDir::current().relativeFilePath(root + "/bin/relative.py").toUtf8() + "\n");
    write("apps/shell.desktop", "[Desktop Entry]\nName=Shell line\nExec=sh -c \"ls\"\n");
    write("apps/hidden.desktop",
          "[Desktop Entry]\nName=Hidden\nHidden=true\nExec=" + root.toUtf8() + "/bin/plain\n");
    write("dpkg/info/mail-pkg:amd64.list", "/.\n" + root.toUtf8() + "/bin/mailer\n");
    write("dpkg/info/fetch.list", root.toUtf8() + "/bin/fetcher\n");
    write("dpkg/status",
          "Package: fetch\nVersion: 1.0\nMaintainer: Bo Maint <bo@example.org>\n"
          "Description: fetches things\n more text\n\n"
          "Package: mail-pkg\nVersion: 2.4-1\nMaintainer: Ann Packager <ann@example.org>\n");
    QImage red(48, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    QDir().mkpath(root + "/icons");
    QVERIFY(red.save(root + "/icons/mailer.png"));

    ProcessDescriber::Options options;
    options.systemFolders = {root + "/apps"};
    options.homes = root + "/home";
    options.dpkgRoot = root + "/dpkg";
    options.iconFolders = {root + "/icons"};
    ProcessDescriber describer(options);
    const QString path = file.startsWith('/') ? file : root + "/" + file;
    const Process process = describer.describe(path).toProcess();
    QCOMPARE(process.filePath, path);
    QCOMPARE(process.description, description);
    QCOMPARE(process.productVersion, version);
    QCOMPARE(process.company, company);
    QCOMPARE(process.comments, comments);
    QCOMPARE(process.fileSize, quint64(QFileInfo(path).size()));
    QVERIFY(!process.icon.isNull());
    if (iconPixel)
        QCOMPARE(process.icon.toImage().pixel(10, 10), iconPixel);
    else
        QVERIFY(process.icon.toImage().pixel(10, 10) != qRgb(255, 0, 0));
}

void TestLinuxDescriptions::homeEntries_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("description");
    QTest::newRow("a system program named by a user's entry and the system's") << "sys/prog"
                                                                               << "System Prog";
    QTest::newRow("a system program named by a user's entry only") << "sys/other"
                                                                   << "other";
    QTest::newRow("the user's own program") << "home/ann/bin/tool"
                                            << "Ann Tool";
    QTest::newRow("another user's program") << "home/bob/bin/bobtool"
                                            << "bobtool";
    QTest::newRow("an entry the user may not read") << "home/ann/bin/secret"
                                                    << "secret";
}

// A user's entries describe only that user's programs, read with that
// user's rights.
void TestLinuxDescriptions::homeEntries()
{
    QFETCH(QString, file);
    QFETCH(QString, description);
    if (geteuid() != 0)
        QSKIP("homes of other users need root");
    QTemporaryDir dir;
    const QString root = dir.path();
    QVERIFY(QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadOther | QFile::ExeOther));
    const auto write = [&](const QString& name, const QByteArray& text, uid_t owner) {
        QDir().mkpath(QFileInfo(root + "/" + name).path());
        QFile out(root + "/" + name);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text);
        out.close();
        QCOMPARE(chown(qPrintable(out.fileName()), owner, owner), 0);
    };
    const QByteArray base = root.toUtf8() + "/";
    const QByteArray annApps = "home/ann/.local/share/applications/";
    write("sys/prog", "x", 0);
    write("sys/other", "x", 0);
    write("home/ann/bin/tool", "x", 65534);
    write("home/ann/bin/secret", "x", 65534);
    write("home/bob/bin/bobtool", "x", 65533);
    write("apps/prog.desktop", "[Desktop Entry]\nName=System Prog\nExec=" + base + "sys/prog\n", 0);
    write(annApps + "spoof.desktop", "[Desktop Entry]\nName=Spoofed\nExec=" + base + "sys/prog\n",
          65534);
    write(annApps + "other.desktop", "[Desktop Entry]\nName=Spoofed\nExec=" + base + "sys/other\n",
          65534);
    write(annApps + "tool.desktop",
          "[Desktop Entry]\nName=Ann Tool\nExec=" + base + "home/ann/bin/tool\n", 65534);
    write(annApps + "steal.desktop",
          "[Desktop Entry]\nName=Stolen\nExec=" + base + "home/bob/bin/bobtool\n", 65534);
    write(annApps + "secret.desktop",
          "[Desktop Entry]\nName=Secret\nExec=" + base + "home/ann/bin/secret\n", 0);
    QVERIFY(QFile::setPermissions(root + "/" + annApps + "secret.desktop",
                                  QFile::ReadOwner | QFile::WriteOwner));
    for (const char* home : {"home/ann", "home/bob"}) {
        const uid_t owner = home == QByteArray("home/ann") ? 65534 : 65533;
        QCOMPARE(chown(qPrintable(root + "/" + home), owner, owner), 0);
    }

    ProcessDescriber::Options options;
    options.systemFolders = {root + "/apps"};
    options.homes = root + "/home";
    options.dpkgRoot = root + "/dpkg";
    options.iconFolders = {root + "/icons"};
    ProcessDescriber describer(options);
    QCOMPARE(describer.describe(root + "/" + file).process.description, description);
}

QTEST_MAIN(TestLinuxDescriptions)
#include "tst_linuxdescriptions.moc"
