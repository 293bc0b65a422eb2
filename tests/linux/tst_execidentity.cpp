#include "appidentity.h"
#include "execrecord.h"
#include "pathtext.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// How a process is named from what the kernel saw it run, on files made by
// the test: the script counts as of the directory the process started in,
// only when it could have run it, and names stay one per file.
class TestExecIdentity : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pathText_data();
    void pathText();
    void ofExec_data();
    void ofExec();
    void ownProcess();

private:
    QByteArray file(const QByteArray& name, mode_t mode);
    QTemporaryDir m_dir;
    QByteArray m_root;
};

void TestExecIdentity::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_root = QFile::encodeName(QDir(m_dir.path()).canonicalPath());
}

QByteArray TestExecIdentity::file(const QByteArray& name, mode_t mode)
{
    const QByteArray path = m_root + '/' + name;
    // By its bytes: not every name here is text.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        const char text[] = "print('hello')\n";
        [[maybe_unused]] const ssize_t written = ::write(fd, text, sizeof text - 1);
        ::close(fd);
    }
    ::chmod(path.constData(), mode);
    return path;
}

void TestExecIdentity::pathText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QByteArray("/usr/bin/curl") << "/usr/bin/curl";
    QTest::newRow("UTF-8") << QByteArray("/opt/caf\xc3\xa9") << QString::fromUtf8("/opt/café");
    QTest::newRow("invalid byte") << QByteArray("/tmp/a\xff") << "/tmp/a\\xff";
    QTest::newRow("another invalid byte") << QByteArray("/tmp/a\xfe") << "/tmp/a\\xfe";
    QTest::newRow("overlong encoding") << QByteArray("/x\xc0\xaf") << "/x\\xc0\\xaf";
    QTest::newRow("encoded surrogate") << QByteArray("/x\xed\xa0\x80") << "/x\\xed\\xa0\\x80";
    QTest::newRow("cut sequence") << QByteArray("/x\xe2\x82") << "/x\\xe2\\x82";
    QTest::newRow("backslash") << QByteArray("/tmp/a\\xff") << "/tmp/a\\\\xff";
    QTest::newRow("four bytes") << QByteArray("/\xf0\x9f\x90\xa6") << QString::fromUtf8("/🐦");
}

// One text per name, and back to the same bytes.
void TestExecIdentity::pathText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(PathText::fromBytes(bytes), text);
    QCOMPARE(PathText::toBytes(text), bytes);
}

void TestExecIdentity::ofExec_data()
{
    QTest::addColumn<QByteArray>("exe");
    QTest::addColumn<QList<QByteArray>>("args");
    QTest::addColumn<QByteArray>("cwd");
    QTest::addColumn<quint32>("uid");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray python = "/usr/bin/python3.11";
    const QByteArray script = file("talk.py", 0644);
    QDir().mkpath(QFile::decodeName(m_root + "/sub"));
    QDir().mkpath(QFile::decodeName(m_root + "/dir.py"));
    file("private.py", 0600);
    file("curl", 0644);
    file("odd\xff", 0644);
    ::symlink(script.constData(), (m_root + "/link.py").constData());

    QTest::newRow("a compiled program")
        << QByteArray("/usr/bin/curl") << QList<QByteArray>{"curl", "x"} << m_root << 0u
        << QByteArray("/usr/bin/curl");
    QTest::newRow("a file named as if deleted keeps its name")
        << QByteArray("/tmp/x (deleted)") << QList<QByteArray>{"x"} << m_root << 0u
        << QByteArray("/tmp/x (deleted)");
    QTest::newRow("script relative to where it started")
        << python << QList<QByteArray>{"python3", "talk.py"} << m_root << 1000u << script;
    QTest::newRow("script up and back") << python << QList<QByteArray>{"python3", "../talk.py"}
                                        << m_root + "/sub" << 1000u << script;
    QTest::newRow("script through a link is the file it names")
        << python << QList<QByteArray>{"python3", "link.py"} << m_root << 1000u << script;
    QTest::newRow("a script named like another program is the user's")
        << python << QList<QByteArray>{"python3", "curl"} << m_root << 1000u << m_root + "/curl";
    QTest::newRow("a script it cannot read is no script")
        << python << QList<QByteArray>{"python3", "private.py"} << m_root << 1000u << python;
    QTest::newRow("root reads every script") << python << QList<QByteArray>{"python3", "private.py"}
                                             << m_root << 0u << m_root + "/private.py";
    QTest::newRow("a directory is no script")
        << python << QList<QByteArray>{"python3", "dir.py"} << m_root << 0u << python;
    QTest::newRow("a missing script is no script")
        << python << QList<QByteArray>{"python3", "gone.py"} << m_root << 0u << python;
    QTest::newRow("a relative script with no known start is no script")
        << python << QList<QByteArray>{"python3", "talk.py"} << QByteArray() << 0u << python;
    QTest::newRow("a script whose name is not UTF-8")
        << python << QList<QByteArray>{"python3", "odd\xff"} << m_root << 0u << m_root + "/odd\xff";
}

void TestExecIdentity::ofExec()
{
    QFETCH(QByteArray, exe);
    QFETCH(QList<QByteArray>, args);
    QFETCH(QByteArray, cwd);
    QFETCH(quint32, uid);
    QFETCH(QByteArray, expected);
    ExecRecord record;
    record.tgid = quint32(getpid());
    record.exe = exe;
    record.args = args;
    record.cwd = cwd;
    record.uid = record.gid = uid;
    record.atExec = true;
    QString path;
    QVERIFY(AppIdentity::ofExec(record, &path));
    QCOMPARE(PathText::toBytes(path), expected);
}

// A process that has moved since it started is still named by where it started.
void TestExecIdentity::ownProcess()
{
    ExecRecord record;
    QVERIFY(AppIdentity::recordOfProcess(quint32(getpid()), &record));
    QCOMPARE(QFile::decodeName(record.exe), QCoreApplication::applicationFilePath());
    struct stat info
    {
    };
    QCOMPARE(::stat(record.exe.constData(), &info), 0);
    QCOMPARE(record.ino, quint64(info.st_ino));
    QVERIFY(!AppIdentity::recordOfProcess(0x7ffffff0u, &record));
}

QTEST_MAIN(TestExecIdentity)
#include "tst_execidentity.moc"
