#include "descriptioncache.h"
#include "iconloader.h"
#include "safefilereader.h"
#include "testimages.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Reading files users control: what is refused and what still reads, and
// descriptions that never wait for a file.
class TestSafeReading : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void read_data();
    void read();
    void listing();
    void icons_data();
    void icons();
    void ownersRights();
    void cacheAnswersAtOnce();
    void cacheGivesUpOnAStuckDescription();
    void cacheStaysBounded();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void write(const QString& name, const QByteArray& data);

    QTemporaryDir m_dir;
};

void TestSafeReading::write(const QString& name, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path(name)).path());
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

void TestSafeReading::initTestCase()
{
    QVERIFY(m_dir.isValid());
    write("plain.desktop", "[Desktop Entry]\nName=Plain\n");
    QCOMPARE(mkfifo(qPrintable(path("fifo.desktop")), 0644), 0);
    QVERIFY(QFile::link("/dev/zero", path("zero.desktop")));
    QVERIFY(QFile::link(path("plain.desktop"), path("link.desktop")));
    QVERIFY(QFile::link("/proc/self", path("proc")));
    QFile sparse(path("sparse.desktop"));
    QVERIFY(sparse.open(QIODevice::WriteOnly));
    QVERIFY(sparse.resize(qint64(1) << 30));
    write("longline.desktop", "[Desktop Entry]\nName=" + QByteArray(5000, 'x') + "\n");
    write("wide.desktop", QByteArray(70 * 1024, '\n'));
}

void TestSafeReading::read_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("links"); // SafeFileReader::Links
    QTest::addColumn<bool>("reads");
    const int refuse = int(SafeFileReader::Links::Refuse);
    const int follow = int(SafeFileReader::Links::Follow);
    QTest::newRow("an ordinary entry") << "plain.desktop" << refuse << true;
    QTest::newRow("a FIFO") << "fifo.desktop" << refuse << false;
    QTest::newRow("a FIFO, links followed") << "fifo.desktop" << follow << false;
    QTest::newRow("a link to /dev/zero") << "zero.desktop" << refuse << false;
    QTest::newRow("a link to /dev/zero, followed") << "zero.desktop" << follow << false;
    QTest::newRow("/dev/zero itself") << "/dev/zero" << follow << false;
    QTest::newRow("a link to an ordinary entry") << "link.desktop" << refuse << false;
    QTest::newRow("the same link, followed") << "link.desktop" << follow << true;
    QTest::newRow("a sparse gigabyte") << "sparse.desktop" << refuse << false;
    QTest::newRow("a line over 4 KiB") << "longline.desktop" << refuse << false;
    QTest::newRow("over 64 KiB") << "wide.desktop" << refuse << false;
    QTest::newRow("a folder") << "." << follow << false;
    QTest::newRow("missing") << "missing.desktop" << refuse << false;
    // Its files look regular, and reading some waits on another process.
    QTest::newRow("a file of /proc through a linked folder") << "proc/status" << refuse << false;
    QTest::newRow("a file of /proc") << "/proc/self/cmdline" << follow << false;
    QTest::newRow("a file of /sys") << "/sys/kernel/uevent_seqnum" << follow << false;
}

void TestSafeReading::read()
{
    QFETCH(QString, file);
    QFETCH(int, links);
    QFETCH(bool, reads);
    const QString name = file.startsWith('/') ? file : path(file);
    QList<QByteArray> lines;
    QCOMPARE(
        SafeFileReader().readLines(name, 64 * 1024, 4 * 1024, &lines, SafeFileReader::Links(links)),
        reads);
    if (reads)
        QCOMPARE(lines, (QList<QByteArray>{"[Desktop Entry]", "Name=Plain"}));
    else
        QVERIFY(lines.isEmpty());
}

void TestSafeReading::listing()
{
    for (int i = 0; i < 10000; ++i)
        write(QStringLiteral("wide/%1.desktop").arg(i), QByteArray());
    QString deep = QStringLiteral("deep");
    for (int i = 0; i < 12; ++i) {
        deep += QStringLiteral("/d");
        write(deep + QStringLiteral("/level%1.desktop").arg(i + 1), QByteArray());
    }
    write("outside/x.desktop", QByteArray());
    QVERIFY(QFile::link(path("outside"), path("deep/linked")));

    const SafeFileReader reader;
    const QStringList wide = reader.listFiles(path("wide"), ".desktop", 4, 4096);
    QCOMPARE(wide.size(), 4096);
    const QStringList deepFiles = reader.listFiles(path("deep"), ".desktop", 4, 4096);
    QStringList names;
    for (const QString& file : deepFiles)
        names.append(QFileInfo(file).fileName());
    names.sort();
    // Four levels of folders below the one named, and no link followed.
    QCOMPARE(names,
             (QStringList{"level1.desktop", "level2.desktop", "level3.desktop", "level4.desktop"}));
}

void TestSafeReading::icons_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("a 48-pixel PNG") << TestImages::png(48) << true;
    QTest::newRow("1024 pixels square") << TestImages::png(1024) << true;
    QTest::newRow("1025 pixels square") << TestImages::png(1025) << false;
    QTest::newRow("a PNG that claims 60000x60000")
        << TestImages::pngClaiming(60000, 60000) << false;
    QTest::newRow("a PNG that claims 100000x1") << TestImages::pngClaiming(100000, 1) << false;
    QTest::newRow("SVG with nested entities") << TestImages::nestedEntitiesSvg() << false;
    QTest::newRow("no picture at all") << QByteArray("hello") << false;
}

void TestSafeReading::icons()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, decodes);
    QCOMPARE(!IconLoader::decode(data, QStringLiteral("test")).isNull(), decodes);
    // The same through a file, and nothing from files that are not regular.
    write("icon.bin", data);
    QCOMPARE(!IconLoader::load(SafeFileReader(), path("icon.bin"), SafeFileReader::Links::Follow)
                  .isNull(),
             decodes);
    QVERIFY(IconLoader::load(SafeFileReader(), path("fifo.desktop"), SafeFileReader::Links::Follow)
                .isNull());
}

// A file only root may read is never read on a user's behalf.
void TestSafeReading::ownersRights()
{
    if (geteuid() != 0)
        QSKIP("taking another user's identity needs root");
    QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther));
    write("public.png", TestImages::png(16));
    write("secret.png", TestImages::png(16));
    QVERIFY(QFile::setPermissions(path("public.png"), QFile::ReadOwner | QFile::ReadOther));
    QVERIFY(QFile::setPermissions(path("secret.png"), QFile::ReadOwner | QFile::WriteOwner));
    const SafeFileReader nobody(FsIdentity::User{65534, 65534});
    QByteArray data;
    QVERIFY(nobody.read(path("public.png"), 1 << 20, &data));
    QVERIFY(!nobody.read(path("secret.png"), 1 << 20, &data));
    QVERIFY(IconLoader::load(nobody, path("secret.png"), SafeFileReader::Links::Follow).isNull());
    QVERIFY(SafeFileReader().read(path("secret.png"), 1 << 20, &data));
    // The thread is root again afterwards.
    QCOMPARE(FsIdentity::currentUid(), uid_t(0));
}

namespace {

// Describes by a function the test controls; "/stuck" blocks until released.
struct FakeDescriber
{
    std::atomic<int> calls{0};
    std::atomic<int> stuckCalls{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();

    DescriptionWorker::Factory factory()
    {
        return [this] {
            return [this](const QString& path) {
                ++calls;
                if (path == QLatin1String("/stuck")) {
                    ++stuckCalls;
                    released.wait();
                }
                ProcessDescriber::Description description = ProcessDescriber::plain(path);
                description.process.description = QStringLiteral("Real ") + path;
                return description;
            };
        };
    }
};

} // namespace

void TestSafeReading::cacheAnswersAtOnce()
{
    FakeDescriber fake;
    DescriptionCache::Options options;
    options.lifetimeMs = 300;
    DescriptionCache cache(fake.factory(), options);
    QSignalSpy described(&cache, &DescriptionCache::described);
    const Process first = cache.describe("/usr/bin/tool");
    QCOMPARE(first.description, QString("tool"));
    QVERIFY(!first.icon.isNull());
    QVERIFY(described.wait(5000));
    QCOMPARE(cache.describe("/usr/bin/tool").description, QString("Real /usr/bin/tool"));
    QCOMPARE(fake.calls.load(), 1);
    // Made again once old, the old one answering meanwhile.
    QTest::qWait(options.lifetimeMs + 50);
    QCOMPARE(cache.describe("/usr/bin/tool").description, QString("Real /usr/bin/tool"));
    QVERIFY(described.wait(5000));
    QCOMPARE(fake.calls.load(), 2);
    fake.release.set_value();
}

void TestSafeReading::cacheGivesUpOnAStuckDescription()
{
    FakeDescriber fake;
    DescriptionCache::Options options;
    options.deadlineMs = 200;
    options.retryAfterMs = 1500;
    options.lifetimeMs = 60000;
    auto cache = std::make_unique<DescriptionCache>(fake.factory(), options);
    QSignalSpy described(cache.get(), &DescriptionCache::described);
    QCOMPARE(cache->describe("/stuck").description, QString("stuck"));
    cache->describe("/usr/bin/after");
    // The one behind it is described by a new worker.
    QTRY_VERIFY_WITH_TIMEOUT(cache->isDescribed("/usr/bin/after"), 5000);
    QCOMPARE(cache->abandonedWorkers(), 1);
    QVERIFY(!cache->isDescribed("/stuck"));
    // Not tried again before its time, then tried once more.
    QCOMPARE(cache->describe("/stuck").description, QString("stuck"));
    QCOMPARE(fake.stuckCalls.load(), 1);
    QTest::qWait(options.retryAfterMs + 100);
    cache->describe("/stuck");
    QTRY_COMPARE_WITH_TIMEOUT(fake.stuckCalls.load(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(cache->abandonedWorkers(), 2, 5000);
    // Blocked workers end once the file system answers.
    fake.release.set_value();
    QTRY_COMPARE_WITH_TIMEOUT(cache->abandonedWorkers(), 0, 5000);
    cache.reset();
}

void TestSafeReading::cacheStaysBounded()
{
    FakeDescriber fake;
    DescriptionCache::Options options;
    options.capacity = 64;
    DescriptionCache cache(fake.factory(), options);
    for (int i = 0; i < 2000; ++i) {
        cache.describe(QStringLiteral("/usr/bin/p%1").arg(i));
        QVERIFY(cache.size() <= options.capacity);
    }
    // The latest are the ones kept, and they are described.
    QTRY_VERIFY_WITH_TIMEOUT(cache.isDescribed("/usr/bin/p1999"), 5000);
    fake.release.set_value();
}

QTEST_MAIN(TestSafeReading)
#include "tst_safereading.moc"
