// Who may change settings is looked up in the group databases, which may ask a
// directory server and wait on it: a stalled lookup holds up neither the
// thread that accepts clients nor the answers for other users.

#include "membershipcache.h"
#include "peeraccesspolicy.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <future>
#include <unistd.h>

namespace {

// A database whose answer for one user comes only when the test says so. Its
// lookups may outlive the test function: they hold what they use.
struct StalledDatabase
{
    struct Shared
    {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> asked{0};
    };
    uid_t stalled = 0;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    MembershipCache::Lookup lookup() const
    {
        return [shared = shared, stalled = stalled](uid_t uid) {
            ++shared->asked;
            if (uid == stalled)
                shared->released.wait_for(std::chrono::seconds(20));
            return MembershipCache::Membership{true, QStringLiteral("user %1").arg(uid)};
        };
    }
    int asked() const { return shared->asked; }
    void release() { shared->release.set_value(); }
};

MembershipCache::Options quick()
{
    MembershipCache::Options options;
    options.waitMs = 100;
    options.deadlineMs = 300;
    options.retryMs = 0;
    return options;
}

} // namespace

class TestGroupDecisions : public QObject
{
    Q_OBJECT
private slots:
    void acceptWhileLookupStalls();
    void otherUsersWhileLookupStalls();
    void keptAnswerServesWhileRefreshed();
};

// The policy decides at accept: with the lookup stalled, clients are still
// identified, as readers, and once the database answers, as what it says.
void TestGroupDecisions::acceptWhileLookupStalls()
{
    StalledDatabase database;
    database.stalled = ::geteuid();
    auto unstall = qScopeGuard([&database] { database.release(); });
    PeerAccessPolicy policy(database.lookup(), quick());
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const auto accept = [&server]() -> QTcpSocket* {
        auto* client = new QTcpSocket(&server);
        client->connectToHost(QHostAddress::LocalHost, server.serverPort());
        return server.waitForNewConnection(5000) ? server.nextPendingConnection() : nullptr;
    };
    for (int connection = 0; connection < 3; ++connection) {
        QTcpSocket* socket = accept();
        QVERIFY(socket);
        QElapsedTimer identifying;
        identifying.start();
        const ClientIdentity identity = policy.identify(*socket);
        // The lookup takes 20 s: any wait for it would show.
        QVERIFY2(identifying.elapsed() < 5000, qPrintable(QString::number(identifying.elapsed())));
        QVERIFY(identity.known);
        QCOMPARE(identity.user, quint32(::geteuid()));
        QVERIFY(!identity.privileged);
    }
    QCOMPARE(database.asked(), 1);
    unstall.dismiss();
    database.release();
    QTRY_VERIFY(policy.identify(*accept()).privileged);
}

void TestGroupDecisions::otherUsersWhileLookupStalls()
{
    StalledDatabase database;
    database.stalled = 1000;
    MembershipCache cache(database.lookup(), quick());
    const auto unstall = qScopeGuard([&database] { database.release(); });
    QVERIFY(!cache.decide(1000));
    const std::optional<MembershipCache::Membership> other = cache.decide(1001);
    QVERIFY(other);
    QVERIFY(other->mayChange);
    QCOMPARE(other->description, QStringLiteral("user 1001"));
    // Past its deadline the stalled lookup is asked again, on a thread of its own.
    QTest::qWait(quick().deadlineMs);
    QVERIFY(!cache.decide(1000));
    QCOMPARE(database.asked(), 3);
    QVERIFY(cache.decide(1001));
}

// A user taken out of the group loses its rights by the next lookup; until
// then the kept answer serves, never a wait.
void TestGroupDecisions::keptAnswerServesWhileRefreshed()
{
    const auto member = std::make_shared<std::atomic<bool>>(true);
    MembershipCache::Options options = quick();
    options.refreshMs = 0;
    MembershipCache cache(
        [member](uid_t) {
            return MembershipCache::Membership{member->load(), QString()};
        },
        options);
    const auto mayChange = [&cache] {
        const std::optional<MembershipCache::Membership> answer = cache.decide(7);
        return answer ? std::optional<bool>(answer->mayChange) : std::nullopt;
    };
    QCOMPARE(mayChange(), std::optional<bool>(true));
    *member = false;
    QTRY_COMPARE(mayChange(), std::optional<bool>(false));
}

QTEST_MAIN(TestGroupDecisions)
#include "tst_groupdecisions.moc"
