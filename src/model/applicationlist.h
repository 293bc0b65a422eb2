#pragma once

#include "application.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QRecursiveMutex>

#include <memory>
#include <utility>

// The application view's rows: their display order, kept sorted by one of ten
// sort types, and an index from entry key to row. Several rows may share a
// key (the service may report one key for two rows while a replacement is
// under way), so the index is multi-valued.
//
// Sort types: 0/1 name A-Z/Z-A (natural comparison), 2/3 upload value
// ascending/descending, 4/5 download value, 6/7 blocked, 8/9 priority.
class ApplicationList
{
public:
    static constexpr int NotFound = -65535;
    static constexpr int SortTypeCount = 10;

    explicit ApplicationList(int sortType = 0);
    ~ApplicationList();
    ApplicationList(const ApplicationList&) = delete;
    ApplicationList& operator=(const ApplicationList&) = delete;

    // Inserts at the place the sort type gives: after every row of an equal key.
    void add(const AppPtr& row);
    void remove(const AppPtr& row);
    // The first row with that key leaves the display order; every index entry
    // of the key goes.
    void removeByKey(const QString& key);
    void clear();

    int count() const;
    // Null out of range.
    AppPtr at(int i) const;
    // NotFound when absent.
    int indexOf(const AppPtr& row) const;
    // The row added last among those with that key, or null.
    AppPtr find(const QString& key) const;
    AppPtr findByPath(const QString& path) const;
    // Appends, in display order, every row of that name and executable path.
    void findSame(const QString& name, const QString& path, QList<AppPtr>& out) const;
    void findSameAs(const QString& key, QList<AppPtr>& out) const;

    int sortType() const;
    // Rebuilds the order by inserting the rows again in their present order, so
    // rows of equal keys keep their relative order. NotFound (and no change)
    // for a type outside 0 to 9.
    int setSortType(int type);

    // <0, 0 or >0 as a (the new row's name) sorts before, with or after b.
    static int naturalCompare(const QByteArray& a, const QByteArray& b);
    // The name as the name orders compare it.
    static QByteArray nameKey(const QString& name);

private:
    int compare(const Application* r, const Application* e) const;
    void insertSorted(QList<AppPtr>& rows, const AppPtr& row);
    bool isInOrder() const;
    const QByteArray& cachedKey(const Application* row) const;

    QMultiHash<QString, AppPtr> m_index;
    std::unique_ptr<QList<AppPtr>> m_rows;
    int m_sortType = 0;
    // The name keys, computed once per row and name rather than once per
    // comparison: the order is rebuilt every second.
    mutable QHash<const Application*, std::pair<QString, QByteArray>> m_nameKeys;
    mutable QRecursiveMutex m_mutex;
};
