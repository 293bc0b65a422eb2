#include "daemonprocess.h"
#include "netlab.h"
#include "programrun.h"
#include "testimages.h"
#include "throwawayuser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a user's program does: a UDP socket (which announces it to bwcd),
// then it waits for its stdin to close.
const QString Talk = QStringLiteral("exec 3<>/dev/udp/127.0.0.1/9; echo x >&3; read line");
const QString Bash = QStringLiteral("/usr/bin/bash");
constexpr int VerbTimeoutMs = 1000;
// Of bwcd's own memory: the pages of library code it runs for the first
// time count in its resident size too, but are bounded and shared.
constexpr qint64 MaxGrowthKb = 20 * 1024;
constexpr int MemoryReturnWaitMs = 5000;

bool containsControls(const QString& text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\n') || u == 0x7f || (u >= 0x80 && u <= 0x9f))
            return true;
    }
    return false;
}

enum Case
{
    EntryFifo,
    EntryDevZero,
    EntrySparse,
    EntryLongLine,
    EntryDeepFolder,
    IconFifo,
    IconDevZero,
    IconSparse,
    IconHugePng,
    IconNestedSvg,
    IconRootOnly,
    ScriptFifo,
    EscapedName,
    SystemProgram,
};

} // namespace

// bwcd --backend linux against a home whose user means harm: files that
// block, never end, claim enormous pictures or belong to root. The service
// keeps answering every verb, stays small, describes the user's program
// plainly, serves nothing the user could not read, and describes it as it
// should once the files are normal again.
class TestHostileHome : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void hostileFiles_data();
    void hostileFiles();
    void manyShortLivedPrograms();

private:
    ProgramRun bwcctl(const QStringList& args, int timeoutMs = VerbTimeoutMs) const
    {
        return ProgramRun::bwcctl(m_bwcd.port(), args, timeoutMs);
    }
    QJsonArray apps() const;
    QJsonObject appWhere(const std::function<bool(const QJsonObject&)>& match) const;
    QJsonObject appAt(const QString& path) const
    {
        return appWhere([&](const QJsonObject& app) { return app["path"].toString() == path; });
    }
    // The icon the service hands out for the path.
    QImage iconOf(const QString& path) const;
    // Every verb answers in time and the service has not grown.
    void checkService() const;
    void prepare(Case kind, const QString& tag, QString* program, QString* command);
    void restore(Case kind, const QString& tag, const QString& program);
    QString entry(const QString& name, const QString& exec, const QString& icon) const;

    ThrowawayUser m_user{ThrowawayUser::Kind::Resident};
    QTemporaryDir m_state;
    DaemonProcess m_bwcd;
    qint64 m_baselineKb = 0;
    QString m_apps; // the user's application folder, relative to the home
};

void TestHostileHome::initTestCase()
{
    const QString why = ThrowawayUser::unavailable();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QString error;
    QVERIFY2(m_user.setUp(&error), qPrintable(error));
    m_apps = QStringLiteral(".local/share/applications");
    // The user's own copy of a program, linked under each case's name.
    QVERIFY(QDir().mkpath(m_user.home() + "/bin"));
    QVERIFY(QFile::copy(Bash, m_user.home() + "/bin/bash.copy"));
    QVERIFY(m_user.chownToUser(m_user.home() + "/bin") &&
            m_user.chownToUser(m_user.home() + "/bin/bash.copy"));

    m_bwcd.environment.insert(QStringLiteral("BWC_LINUX_CGROUP"), m_user.cgroup());
    m_bwcd.environment.insert(QStringLiteral("BWC_LINUX_NETNS"), m_user.netnsPath());
    m_bwcd.environment.insert(QStringLiteral("BWC_LINUX_DESCRIPTION_MS"), QStringLiteral("1000"));
    QVERIFY2(m_bwcd.start(m_state.filePath("state.json"), {"--backend", "linux"}, 15000),
             qPrintable(m_bwcd.errorOutput()));
    bwcctl({"apps"});
    m_baselineKb = m_bwcd.anonymousKb();
    QVERIFY(m_baselineKb > 0);
}

void TestHostileHome::cleanupTestCase()
{
    if (m_bwcd.terminate() < 0)
        m_bwcd.terminate(SIGKILL);
    m_user.tearDown();
    const QStringList left = m_user.leftovers();
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
}

void TestHostileHome::cleanup()
{
    m_user.stopPrograms();
}

QJsonArray TestHostileHome::apps() const
{
    return QJsonDocument::fromJson(bwcctl({"--json", "apps"}).out.toUtf8()).array();
}

QJsonObject TestHostileHome::appWhere(const std::function<bool(const QJsonObject&)>& match) const
{
    for (const QJsonValue& app : apps()) {
        if (match(app.toObject()))
            return app.toObject();
    }
    return QJsonObject();
}

QImage TestHostileHome::iconOf(const QString& path) const
{
    const QJsonObject question{{"path", path}};
    const ProgramRun verb =
        bwcctl({"send", "GetProcessInfo",
                QString::fromUtf8(QJsonDocument(question).toJson(QJsonDocument::Compact))});
    const QJsonObject reply = QJsonDocument::fromJson(verb.out.toUtf8()).object();
    const QJsonObject icon = reply["payload"]["process"]["icon"].toObject();
    return QImage::fromData(QByteArray::fromBase64(icon["png"].toString().toLatin1()), "PNG");
}

void TestHostileHome::checkService() const
{
    for (const char* verb : {"apps", "stats", "globals", "defaults", "devices"}) {
        const ProgramRun answer = bwcctl({QString::fromLatin1(verb)});
        QVERIFY2(answer.code == 0, verb);
        QVERIFY2(!containsControls(answer.out), verb);
    }
    // bwcd gives what it freed back every 2 s; until then the C library
    // keeps it, so a check right after a flood would see its peak.
    const auto grown = [this] { return m_bwcd.anonymousKb() - m_baselineKb; };
    QTRY_VERIFY2_WITH_TIMEOUT(
        grown() < MaxGrowthKb,
        qPrintable(QStringLiteral("bwcd holds %1 kB more than at the start").arg(grown())),
        MemoryReturnWaitMs);
}

QString TestHostileHome::entry(const QString& name, const QString& exec, const QString& icon) const
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\nIcon=%3\n")
        .arg(name, exec, icon);
}

void TestHostileHome::prepare(Case kind, const QString& tag, QString* program, QString* command)
{
    const QString home = m_user.home();
    const QString entryFile = home + "/" + m_apps + "/" + tag + ".desktop";
    *program = home + "/bin/" + tag;
    // A hard link: the kernel names the program by the path it ran from.
    QCOMPARE(::link(qPrintable(home + "/bin/bash.copy"), qPrintable(*program)), 0);
    *command = "exec " + *program + " -c '" + Talk + "'";
    QVERIFY(m_user.write(m_apps + "/.keep", ""));
    const auto iconEntry = [&](const QString& icon) {
        QVERIFY(m_user.write(m_apps + "/" + tag + ".desktop",
                             entry("Tool " + tag, *program, icon).toUtf8()));
    };
    const auto sparse = [&](const QString& path, qint64 size, const QByteArray& head) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(head);
        QVERIFY(file.resize(size));
        file.close();
        QVERIFY(m_user.chownToUser(path));
    };
    switch (kind) {
    case EntryFifo:
        QCOMPARE(mkfifo(qPrintable(entryFile), 0644), 0);
        QVERIFY(m_user.chownToUser(entryFile));
        break;
    case EntryDevZero:
        QVERIFY(QFile::link("/dev/zero", entryFile));
        QVERIFY(m_user.chownToUser(entryFile));
        break;
    case EntrySparse:
        sparse(entryFile, qint64(1) << 30, "[Desktop Entry]\nName=Huge\n");
        break;
    case EntryLongLine:
        sparse(entryFile, 100 * 1000 * 1000, "[Desktop Entry]\nName=");
        break;
    case EntryDeepFolder: {
        for (int i = 0; i < 10000; ++i)
            QVERIFY(m_user.write(QStringLiteral("%1/wide/%2.desktop").arg(m_apps).arg(i), ""));
        // A folder 10,000 levels deep, made one level at a time.
        int fd = open(qPrintable(home + "/" + m_apps), O_RDONLY | O_DIRECTORY);
        for (int i = 0; i < 10000 && fd >= 0; ++i) {
            mkdirat(fd, "d", 0755);
            const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = next;
        }
        QVERIFY(fd >= 0);
        close(fd);
        break;
    }
    case IconFifo:
        QCOMPARE(mkfifo(qPrintable(home + "/icon.fifo"), 0644), 0);
        iconEntry(home + "/icon.fifo");
        break;
    case IconDevZero:
        iconEntry("/dev/zero");
        break;
    case IconSparse:
        sparse(home + "/sparse.png", qint64(1) << 30, TestImages::png(16));
        iconEntry(home + "/sparse.png");
        break;
    case IconHugePng:
        QVERIFY(m_user.write("huge.png",
                             TestImages::pngClaiming(60000, 60000) + QByteArray(4096, '\0')));
        iconEntry(home + "/huge.png");
        break;
    case IconNestedSvg:
        QVERIFY(m_user.write("nested.svg", TestImages::nestedEntitiesSvg()));
        iconEntry(home + "/nested.svg");
        break;
    case IconRootOnly: {
        // Root's picture, in a folder the user may enter but not read from.
        const QString secret = home + "/secret.png";
        QFile file(secret);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(TestImages::png(16));
        file.close();
        QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
        iconEntry(secret);
        break;
    }
    case ScriptFifo: {
        // bash reads its script from a FIFO: only a regular file names a
        // script's application, so the process is bash's, and nothing reads the FIFO.
        const QString fifo = home + "/bin/" + tag + ".sh";
        QCOMPARE(mkfifo(qPrintable(fifo), 0644), 0);
        QVERIFY(m_user.chownToUser(fifo));
        *program = Bash;
        *command = "(echo '" + Talk + "' > " + fifo + " &); exec " + Bash + " " + fifo;
        break;
    }
    case EscapedName: {
        // ESC [31m, ESC ]0;TITLE BEL and a byte that is no UTF-8.
        const QByteArray name = QFile::encodeName(home) + "/bin/ev\x1b[31mRED\x1b]0;TITLE\x07\xff";
        QCOMPARE(::link(qPrintable(home + "/bin/bash.copy"), name.constData()), 0);
        *program = QString();
        *command = "exec \"$(printf '" + home +
                   "/bin/ev\\033[31mRED\\033]0;TITLE\\007\\377')\" -c '" + Talk + "'";
        break;
    }
    case SystemProgram:
        *program = Bash;
        *command = "exec " + Bash + " -c '" + Talk + "'";
        QVERIFY(m_user.write(m_apps + "/" + tag + ".desktop",
                             entry("Spoofed", Bash, home + "/icon.png").toUtf8()));
        QVERIFY(m_user.write("icon.png", TestImages::png(16)));
        break;
    }
}

void TestHostileHome::restore(Case kind, const QString& tag, const QString& program)
{
    const QString home = m_user.home();
    const QString entryFile = home + "/" + m_apps + "/" + tag + ".desktop";
    QFile::remove(entryFile);
    if (kind == EntryDeepFolder) {
        QCOMPARE(
            NetLab::run("rm", {"-rf", home + "/" + m_apps + "/wide", home + "/" + m_apps + "/d"}),
            0);
    }
    QVERIFY(m_user.write("green.png", TestImages::png(16, Qt::green)));
    const QString exec = kind == ScriptFifo ? Bash + " " + program : program;
    QVERIFY(m_user.write(m_apps + "/" + tag + ".desktop",
                         entry("Restored " + tag, exec, home + "/green.png").toUtf8()));
}

void TestHostileHome::hostileFiles_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("plainName"); // empty: the file name
    QTest::newRow("entry: a FIFO") << int(EntryFifo) << QString();
    QTest::newRow("entry: a link to /dev/zero") << int(EntryDevZero) << QString();
    QTest::newRow("entry: a sparse gigabyte") << int(EntrySparse) << QString();
    QTest::newRow("entry: one 100 MB line") << int(EntryLongLine) << QString();
    QTest::newRow("entry folder: 10,000 entries and 10,000 levels")
        << int(EntryDeepFolder) << QString();
    QTest::newRow("icon: a FIFO") << int(IconFifo) << "Tool iconfifo";
    QTest::newRow("icon: /dev/zero") << int(IconDevZero) << "Tool icondevzero";
    QTest::newRow("icon: a sparse gigabyte") << int(IconSparse) << "Tool iconsparse";
    QTest::newRow("icon: a PNG that claims 60000x60000") << int(IconHugePng) << "Tool iconhuge";
    QTest::newRow("icon: SVG with nested entities") << int(IconNestedSvg) << "Tool iconsvg";
    QTest::newRow("icon: root's picture") << int(IconRootOnly) << "Tool iconrootonly";
    QTest::newRow("script: a FIFO") << int(ScriptFifo) << "bash";
    QTest::newRow("program named with terminal escapes") << int(EscapedName) << QString();
    QTest::newRow("a user's entry for a system program") << int(SystemProgram) << "bash";
}

void TestHostileHome::hostileFiles()
{
    QFETCH(int, kind);
    QFETCH(QString, plainName);
    static const QStringList tags{"entryfifo", "entrydevzero", "entrysparse",  "entrylongline",
                                  "entrydeep", "iconfifo",     "icondevzero",  "iconsparse",
                                  "iconhuge",  "iconsvg",      "iconrootonly", "scriptfifo",
                                  "escaped",   "system"};
    const QString tag = tags.at(kind);
    QString program, command;
    prepare(Case(kind), tag, &program, &command);
    if (QTest::currentTestFailed())
        return;
    QProcess* talker = m_user.start(command);
    QVERIFY(talker->waitForStarted());

    // Listed, running, with a plain description.
    const auto listed = [&] {
        return kind == EscapedName ? appWhere([](const QJsonObject& app) {
            return app["path"].toString().contains(QLatin1String("RED"));
        })
                                   : appAt(program);
    };
    QTRY_VERIFY_WITH_TIMEOUT(listed()["running"].toBool(), 15000);
    const QString expected = plainName.isEmpty() ? QFileInfo(program).fileName() : plainName;
    // The plain description comes at once, the one from the files later.
    if (kind != EscapedName)
        QTRY_COMPARE_WITH_TIMEOUT(listed()["name"].toString(), expected, 10000);
    checkService();
    if (kind != EscapedName)
        QCOMPARE(listed()["name"].toString(), expected);
    if (kind == EscapedName) {
        const ProgramRun table = bwcctl({"apps"});
        QVERIFY(table.out.contains("ev\\x1b[31mRED\\x1b]0;TITLE\\x07"));
        return;
    }
    // No picture of the user's (nor root's) is served.
    QImage icon = iconOf(program);
    QVERIFY(!icon.isNull());
    QVERIFY(icon.pixel(icon.width() / 2, icon.height() / 2) != qRgb(255, 0, 0));
    if (kind == SystemProgram || kind == ScriptFifo)
        return;

    // Normal files again: the real description comes, and clients that
    // hold the plain one hear of the program again.
    QProcess watch;
    watch.start(QStringLiteral(BWCCTL_PATH), {"--port", QString::number(m_bwcd.port()), "watch"});
    QVERIFY(watch.waitForStarted());
    // Listening once it hears a change of the globals.
    QByteArray heard;
    int tries = 0;
    QTRY_VERIFY_WITH_TIMEOUT((bwcctl({"globals", "--up", ++tries % 2 ? "100M" : "200M"}),
                              (heard += watch.readAllStandardOutput()).contains("GlobalsChanged")),
                             10000);
    QCOMPARE(bwcctl({"globals", "--up", "none"}).code, 0);
    restore(Case(kind), tag, program);
    QTRY_COMPARE_WITH_TIMEOUT(listed()["name"].toString(), "Restored " + tag, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(iconOf(program).pixel(16, 16), qRgb(0, 255, 0), 15000);
    QTRY_VERIFY_WITH_TIMEOUT((heard += watch.readAllStandardOutput())
                                 .contains(QJsonDocument(QJsonArray{program})
                                               .toJson(QJsonDocument::Compact)
                                               .mid(1)
                                               .chopped(1)),
                             10000);
    QVERIFY(heard.contains("BWCAppAdded"));
    watch.kill();
    watch.waitForFinished();
    checkService();
}

// Programs that each run from a path of their own and end at once: the
// table stays bounded, the service small and quick, and a new program is
// still numbered.
void TestHostileHome::manyShortLivedPrograms()
{
    // 3000 keep CI short; BWC_HOSTILE_PROGRAMS=20000 runs the full flood.
    bool ok = false;
    const int wanted = qEnvironmentVariableIntValue("BWC_HOSTILE_PROGRAMS", &ok);
    const int count = ok && wanted > 0 ? wanted : 3000;
    const QString folder = m_user.home() + "/many";
    QVERIFY(QDir().mkpath(folder) && m_user.chownToUser(folder));
    for (int i = 0; i < count; ++i) {
        QCOMPARE(::link(qPrintable(m_user.home() + "/bin/bash.copy"),
                        qPrintable(QStringLiteral("%1/p%2").arg(folder).arg(i))),
                 0);
    }
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(bwcctl({"apps"}).code, 0);
    const qint64 before = clock.elapsed();
    const qint64 beforeKb = m_bwcd.anonymousKb();
    clock.restart();
    QProcess* flood = m_user.start(QStringLiteral("for i in $(seq 0 %1); do %2/p$i -c "
                                                  "'exec 3<>/dev/udp/127.0.0.1/9; echo x >&3'; "
                                                  "done")
                                       .arg(count - 1)
                                       .arg(folder));
    QVERIFY(flood->waitForFinished(600000));
    qInfo("%d programs ran in %lld ms", count, clock.elapsed());
    // Stopped ones beyond 256 leave once quiet for 3 s.
    const auto listed = [this] {
        return QJsonDocument::fromJson(bwcctl({"--json", "apps"}, 10000).out.toUtf8())
            .array()
            .size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(listed() <= 300, 30000);
    clock.restart();
    QCOMPARE(bwcctl({"apps"}).code, 0);
    const qint64 took = clock.elapsed();
    qInfo("bwcctl apps with %lld applications listed: %lld ms (%lld ms before); bwcd's own "
          "memory grew by %lld kB (before it gives back what it freed)",
          qint64(listed()), took, before, m_bwcd.anonymousKb() - beforeKb);
    checkService();
    qInfo("bwcd's own memory after giving back: %lld kB more than at the start",
          m_bwcd.anonymousKb() - m_baselineKb);
    // Still numbered: a new program is listed (listing needs a number).
    const QString fresh = m_user.home() + "/bin/fresh";
    QCOMPARE(::link(qPrintable(m_user.home() + "/bin/bash.copy"), qPrintable(fresh)), 0);
    QProcess* talker = m_user.start("exec " + fresh + " -c '" + Talk + "'");
    QVERIFY(talker->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(appAt(fresh)["running"].toBool(), 15000);
}

QTEST_MAIN(TestHostileHome)
#include "tst_hostilehome.moc"
