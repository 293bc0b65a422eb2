#include "netnsfinder.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

// Which network namespaces the mount table keeps alive, read from the
// kernel's own lines, and opening one only while its path still holds it.
class TestNetnsFinder : public QObject
{
    Q_OBJECT
private slots:
    void pinnedIn_data();
    void pinnedIn();
    void openPinned();
};

namespace {

QString listed(const QMap<quint64, QString>& found)
{
    QStringList parts;
    for (auto it = found.constBegin(); it != found.constEnd(); ++it)
        parts << QString::number(it.key()) + QLatin1Char('=') + it.value();
    return parts.join(QLatin1Char(';'));
}

} // namespace

void TestNetnsFinder::pinnedIn_data()
{
    QTest::addColumn<QByteArray>("mountinfo");
    QTest::addColumn<QString>("expected");
    const QByteArray ipNetns = "612 29 0:4 net:[4026532300] /run/netns/lab rw,nosuid,nodev,noexec,"
                               "relatime shared:350 - nsfs nsfs rw\n";
    QTest::newRow("ip netns add") << ipNetns << "4026532300=/run/netns/lab";
    QTest::newRow("no optional fields")
        << QByteArray("40 29 0:4 net:[4026532301] /run/docker/netns/a1 rw - nsfs nsfs rw\n")
        << "4026532301=/run/docker/netns/a1";
    QTest::newRow("several optional fields")
        << QByteArray("40 29 0:4 net:[7] /x rw shared:3 master:2 propagate_from:1 - nsfs nsfs "
                      "rw\n")
        << "7=/x";
    QTest::newRow("escaped mount point")
        << QByteArray("40 29 0:4 net:[8] /run/my\\040netns\\011a\\134b rw - nsfs nsfs rw\n")
        << "8=/run/my netns\ta\\b";
    QTest::newRow("a namespace mounted twice keeps its first path")
        << ipNetns + "613 29 0:4 net:[4026532300] /run/netns/lab2 rw - nsfs nsfs rw\n"
        << "4026532300=/run/netns/lab";
    QTest::newRow("other namespaces and file systems")
        << QByteArray("41 29 0:4 mnt:[4026531841] /run/m rw - nsfs nsfs rw\n"
                      "42 29 0:4 uts:[4026531838] /run/u rw - nsfs nsfs rw\n"
                      "25 1 0:22 / /run rw,nosuid shared:5 - tmpfs tmpfs rw\n"
                      "43 25 0:22 /netns /run/netns rw shared:5 - tmpfs tmpfs rw\n"
                      "44 29 0:4 net:[9] /tmp/fake rw - ext4 /dev/sda1 rw\n")
        << "";
    QTest::newRow("broken lines among good ones")
        << QByteArray("\n - nsfs\n40 29 0:4 net:[ /a rw - nsfs nsfs rw\n"
                      "40 29 0:4 net:[12x] /b rw - nsfs nsfs rw\n40 29 0:4 net:[0] /c - nsfs\n"
                      "net:[5] - nsfs\n") +
               ipNetns + "1 2 3 4 5 6 - nsfs"
        << "4026532300=/run/netns/lab";
    QTest::newRow("empty") << QByteArray() << "";
}

void TestNetnsFinder::pinnedIn()
{
    QFETCH(QByteArray, mountinfo);
    QFETCH(QString, expected);
    QCOMPARE(listed(NetnsFinder::pinnedIn(mountinfo)), expected);
}

// As ip netns add does: the namespace's file bound on an empty file.
void TestNetnsFinder::openPinned()
{
    if (::geteuid() != 0)
        QSKIP("needs root to mount");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString net = dir.filePath(QStringLiteral("net ns"));
    const QString uts = dir.filePath(QStringLiteral("uts"));
    for (const QString& path : {net, uts}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(::mount("/proc/self/ns/net", QFile::encodeName(net).constData(), nullptr, MS_BIND,
                    nullptr) == 0);
    const auto unmountNet = qScopeGuard([&] { ::umount2(QFile::encodeName(net).constData(), 0); });
    QVERIFY(::mount("/proc/self/ns/uts", QFile::encodeName(uts).constData(), nullptr, MS_BIND,
                    nullptr) == 0);
    const auto unmountUts = qScopeGuard([&] { ::umount2(QFile::encodeName(uts).constData(), 0); });
    const quint64 inode = NetnsFinder::inodeOf(QStringLiteral("/proc/self/ns/net"));
    QVERIFY(inode != 0);

    const QMap<quint64, QString> pinned = NetnsFinder::pinned();
    QVERIFY2(pinned.key(net) == inode, qPrintable(listed(pinned)));

    const int fd = NetnsFinder::openPinned(net, inode);
    QVERIFY(fd >= 0);
    ::close(fd);
    // Another namespace now at the path, a namespace of another kind, the
    // kernel's link to it, a plain file: refused.
    QCOMPARE(NetnsFinder::openPinned(net, inode + 1), -1);
    QCOMPARE(NetnsFinder::openPinned(uts, NetnsFinder::inodeOf(uts)), -1);
    QCOMPARE(NetnsFinder::openPinned(QStringLiteral("/proc/self/ns/net"), inode), -1);
    QCOMPARE(NetnsFinder::openPinned(QStringLiteral("/proc/self/stat"),
                                     NetnsFinder::inodeOf(QStringLiteral("/proc/self/stat"))),
             -1);
}

QTEST_GUILESS_MAIN(TestNetnsFinder)
#include "tst_netnsfinder.moc"
