// The application list: the natural name order, sorted insertion that keeps
// equal keys in their order, and the key index with several rows per key.

#include "applicationlist.h"
#include "bandwidthbar.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestApplicationList : public QObject
{
    Q_OBJECT

    QList<AppPtr> m_rows;

    AppPtr row(const QString& name, const QString& key, const QString& path = {}, int up = 0)
    {
        const AppPtr row = (new Application)->appPtr();
        row->setName(name);
        BWCEntryPtr entry(new BWCEntry);
        entry->id = key;
        row->setEntry(entry);
        Process process;
        process.filePath = path.isEmpty() ? name : path;
        row->setProcess(process);
        row->uploadBar()->setValue(up);
        m_rows << row;
        return row;
    }
    static QStringList names(const ApplicationList& list)
    {
        QStringList out;
        for (int i = 0; i < list.count(); ++i)
            out << list.at(i)->name() + "/" + list.at(i)->entryKey();
        return out;
    }

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(u"Recursive repaint"_s)); }
    void cleanup() { m_rows.clear(); }

    void naturalOrder_data()
    {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("ascending");
        QTest::newRow("numbers by value, case ignored")
            << QStringList{"App10", "app2", "App1"} << QStringList{"App1", "app2", "App10"};
        QTest::newRow("shorter first") << QStringList{"x1", "x"} << QStringList{"x", "x1"};
        QTest::newRow("digits before letters") << QStringList{"x", "1x"} << QStringList{"1x", "x"};
        QTest::newRow("leading zeros do not count, equal keep order")
            << QStringList{"a1", "a01", "a001"} << QStringList{"a1", "a01", "a001"};
        QTest::newRow("Latin-1 before ASCII")
            << QStringList{"b", "\u00e9t\u00e9"} << QStringList{"\u00e9t\u00e9", "b"};
        QTest::newRow("outside Latin-1 as '?'")
            << QStringList{"b", "\u540d", "1"} << QStringList{"1", "\u540d", "b"};
        QTest::newRow("runs past 32 bits wrap")
            << QStringList{"v4294967297", "v2"} << QStringList{"v4294967297", "v2"};
    }
    void naturalOrder()
    {
        QFETCH(QStringList, added);
        QFETCH(QStringList, ascending);
        ApplicationList list(0);
        for (const QString& name : added)
            list.add(row(name, name));
        QStringList order;
        for (int i = 0; i < list.count(); ++i)
            order << list.at(i)->name();
        QCOMPARE(order, ascending);
    }

    void rebuildKeepsEqualsInOrder()
    {
        ApplicationList list(0);
        for (const char* name : {"b", "a", "b", "c", "a"})
            list.add(row(name, u"%1%2"_s.arg(name).arg(list.count())));
        QCOMPARE(names(list), QStringList({"a/a1", "a/a4", "b/b0", "b/b2", "c/c3"}));
        QCOMPARE(list.setSortType(1), 0);
        QCOMPARE(names(list), QStringList({"c/c3", "b/b0", "b/b2", "a/a1", "a/a4"}));
        // Equal upload values: the order they had stays.
        QCOMPARE(list.setSortType(2), 0);
        QCOMPARE(names(list), QStringList({"c/c3", "b/b0", "b/b2", "a/a1", "a/a4"}));
        // Wrapping numbers make the name comparison circular (v3000000000 <
        // v0 < v1500000000 < v3000000000): the rebuild still inserts anew.
        ApplicationList circular(2); // equal upload values: in the order added
        for (const char* name : {"v0", "v1500000000", "v3000000000"})
            circular.add(row(name, name));
        QCOMPARE(circular.setSortType(0), 0);
        QCOMPARE(names(circular),
                 QStringList({"v3000000000/v3000000000", "v0/v0", "v1500000000/v1500000000"}));
        for (int bad : {10, -1, -65535})
            QCOMPARE(list.setSortType(bad), ApplicationList::NotFound);
        QCOMPARE(list.sortType(), 2);
    }

    void bandwidthOrders()
    {
        ApplicationList list(3);
        list.add(row("slow", "s", {}, 5));
        list.add(row("fast", "f", {}, 50));
        list.add(row("idle", "i", {}, 0));
        list.add(row("fast2", "f2", {}, 50));
        QCOMPARE(names(list), QStringList({"fast/f", "fast2/f2", "slow/s", "idle/i"}));
        QCOMPARE(list.setSortType(2), 0);
        QCOMPARE(names(list), QStringList({"idle/i", "slow/s", "fast/f", "fast2/f2"}));
    }

    // The orders by block rule and priority; rows of equal keys stay in the
    // order they were added.
    void blockAndPriorityOrders_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("6 allowed first") << 6 << QStringList{"slow", "idle", "fast", "fast2"};
        QTest::newRow("7 blocked first") << 7 << QStringList{"fast", "fast2", "slow", "idle"};
        QTest::newRow("8 highest first") << 8 << QStringList{"fast2", "idle", "slow", "fast"};
        QTest::newRow("9 lowest first") << 9 << QStringList{"fast", "slow", "idle", "fast2"};
    }
    void blockAndPriorityOrders()
    {
        QFETCH(int, type);
        QFETCH(QStringList, order);
        const std::tuple<const char*, bool, quint32> rows[] = {
            {"slow", false, 2}, {"fast", true, 3}, {"idle", false, 1}, {"fast2", true, 0}};
        ApplicationList list(type);
        for (const auto& [name, blocked, priority] : rows) {
            const AppPtr r = row(name, name);
            r->setPriority(priority);
            r->setBlocked(blocked);
            list.add(r);
        }
        QStringList shown;
        for (int i = 0; i < list.count(); ++i)
            shown << list.at(i)->name();
        QCOMPARE(shown, order);
    }

    void keyIndex()
    {
        ApplicationList list(0);
        const AppPtr first = row("Tool", "k", "C:\\tool.exe");
        const AppPtr second = row("Tool", "k", "C:\\tool.exe");
        const AppPtr other = row("Tool", "o", "C:\\other.exe");
        list.add(first);
        list.add(second);
        list.add(other);
        QCOMPARE(list.find("k"), second); // the one added last
        QList<AppPtr> same;
        list.findSameAs("k", same);
        QCOMPARE(same, QList<AppPtr>({first, second}));
        QCOMPARE(list.findByPath("C:\\other.exe"), other);
        QCOMPARE(list.at(3), AppPtr());
        QCOMPARE(list.at(-1), AppPtr());

        list.removeByKey("k"); // the first in order leaves the rows, every index entry goes
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.indexOf(first), ApplicationList::NotFound);
        QCOMPARE(list.indexOf(second), 0);
        QCOMPARE(list.find("k"), AppPtr());
        same.clear();
        list.findSameAs("k", same);
        QVERIFY(same.isEmpty());

        list.remove(other);
        QCOMPARE(list.find("o"), AppPtr());
        QCOMPARE(list.count(), 1);
        list.clear();
        QCOMPARE(list.count(), 0);
    }
};

QTEST_MAIN(TestApplicationList)
#include "tst_applicationlist.moc"
