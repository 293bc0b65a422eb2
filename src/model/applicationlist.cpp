#include "applicationlist.h"

#include <QMutexLocker>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int sign(qint64 difference)
{
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

} // namespace

ApplicationList::ApplicationList(int sortType)
    : m_rows(std::make_unique<QList<AppPtr>>()),
      m_sortType(quint32(sortType) < SortTypeCount ? sortType : 0)
{}

ApplicationList::~ApplicationList() = default;

QByteArray ApplicationList::nameKey(const QString& name)
{
    return name.toLower().toLatin1();
}

// Digit runs compare as numbers (wrapping 32-bit integers, as the order has
// always been computed), digits come before every other byte, other bytes
// compare as signed chars, and a string that ends first comes first.
int ApplicationList::naturalCompare(const QByteArray& a, const QByteArray& b)
{
    const char* pa = a.constData();
    const char* const ea = pa + a.size();
    const char* pb = b.constData();
    const char* const eb = pb + b.size();
    for (;;) {
        if (pa == ea || pb == eb)
            return pa == ea ? (pb == eb ? 0 : -1) : 1;
        if (isDigit(*pa) && isDigit(*pb)) {
            quint32 na = 0;
            quint32 nb = 0;
            for (; pa != ea && isDigit(*pa); ++pa)
                na = na * 10u + quint32(*pa - '0');
            for (; pb != eb && isDigit(*pb); ++pb)
                nb = nb * 10u + quint32(*pb - '0');
            if (na != nb)
                return qint32(na - nb);
            continue;
        }
        if (isDigit(*pa))
            return -1;
        if (isDigit(*pb))
            return 1;
        if (*pa != *pb)
            return int(qint8(*pa)) - int(qint8(*pb));
        ++pa;
        ++pb;
    }
}

const QByteArray& ApplicationList::cachedKey(const Application* row) const
{
    // A name may have been set after the row was added.
    const QString name = row->name();
    auto it = m_nameKeys.find(row);
    if (it == m_nameKeys.end() || it->first != name)
        it = m_nameKeys.insert(row, {name, nameKey(name)});
    return it->second;
}

int ApplicationList::compare(const Application* r, const Application* e) const
{
    switch (m_sortType) {
    case 0:
    case 1:
        return naturalCompare(cachedKey(r), cachedKey(e));
    case 2:
    case 3:
        return sign(qint64(r->uploadValue()) - e->uploadValue());
    case 4:
    case 5:
        return sign(qint64(r->downloadValue()) - e->downloadValue());
    case 6:
    case 7:
        return int(r->isBlocked()) - int(e->isBlocked());
    default:
        return sign(qint64(qint32(r->priority())) - qint32(e->priority()));
    }
}

// A walk from the top, not a binary search: the order must be exactly the one
// that repeated insertion gives, also where the name comparison is not a
// strict ordering (numbers too large for 32 bits).
void ApplicationList::insertSorted(QList<AppPtr>& rows, const AppPtr& row)
{
    const bool descending = m_sortType % 2 == 1;
    int position = 0;
    for (; position < rows.size(); ++position) {
        const int c = compare(row.data(), rows.at(position).data());
        if (descending ? c > 0 : c < 0)
            break;
    }
    rows.insert(position, row);
}

namespace {

// A run of ten digits or more may overflow the natural comparison's 32 bits,
// and then the comparison is no longer an ordering.
bool hasLongNumber(const QByteArray& key)
{
    int run = 0;
    for (char c : key) {
        run = isDigit(c) ? run + 1 : 0;
        if (run >= 10)
            return true;
    }
    return false;
}

} // namespace

// Every comparison but the overflowing names' is an ordering (transitive), so
// the rebuild walks every row past all that precede it, and leaves the order
// as it is, exactly when no row sorts strictly before the row above it.
bool ApplicationList::isInOrder() const
{
    const bool descending = m_sortType % 2 == 1;
    const bool names = m_sortType < 2;
    for (qsizetype i = 0; i < m_rows->size(); ++i) {
        const Application* row = m_rows->at(i).data();
        if (names && hasLongNumber(cachedKey(row)))
            return false;
        if (i == 0)
            continue;
        const int c = compare(row, m_rows->at(i - 1).data());
        if (descending ? c > 0 : c < 0)
            return false;
    }
    return true;
}

void ApplicationList::add(const AppPtr& row)
{
    if (!row)
        return;
    QMutexLocker locker(&m_mutex);
    m_nameKeys.remove(row.data());
    insertSorted(*m_rows, row);
    m_index.insert(row->entryKey(), row);
}

void ApplicationList::remove(const AppPtr& row)
{
    QMutexLocker locker(&m_mutex);
    const int position = m_rows->indexOf(row);
    if (position >= 0)
        m_rows->removeAt(position);
    // The key is read now; should the row's entry have changed since it was
    // added, its old index entry is found by value.
    if (m_index.remove(row ? row->entryKey() : QString(), row) == 0) {
        for (auto it = m_index.begin(); it != m_index.end();) {
            if (it.value() == row)
                it = m_index.erase(it);
            else
                ++it;
        }
    }
    if (!m_rows->contains(row))
        m_nameKeys.remove(row.data());
}

void ApplicationList::removeByKey(const QString& key)
{
    QMutexLocker locker(&m_mutex);
    for (int i = 0; i < m_rows->size(); ++i) {
        if (m_rows->at(i)->entryKey() == key) {
            const AppPtr row = m_rows->takeAt(i);
            if (!m_rows->contains(row))
                m_nameKeys.remove(row.data());
            break;
        }
    }
    m_index.remove(key);
}

void ApplicationList::clear()
{
    QMutexLocker locker(&m_mutex);
    m_rows->clear();
    m_index.clear();
    m_nameKeys.clear();
}

int ApplicationList::count() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_rows->size());
}

AppPtr ApplicationList::at(int i) const
{
    QMutexLocker locker(&m_mutex);
    return i >= 0 && i < m_rows->size() ? m_rows->at(i) : AppPtr();
}

int ApplicationList::indexOf(const AppPtr& row) const
{
    QMutexLocker locker(&m_mutex);
    const qsizetype position = m_rows->indexOf(row);
    return position < 0 ? NotFound : int(position);
}

AppPtr ApplicationList::find(const QString& key) const
{
    QMutexLocker locker(&m_mutex);
    return m_index.value(key);
}

AppPtr ApplicationList::findByPath(const QString& path) const
{
    QMutexLocker locker(&m_mutex);
    for (const AppPtr& row : std::as_const(*m_rows)) {
        if (row->process().filePath == path)
            return row;
    }
    return AppPtr();
}

void ApplicationList::findSame(const QString& name, const QString& path, QList<AppPtr>& out) const
{
    QMutexLocker locker(&m_mutex);
    for (const AppPtr& row : std::as_const(*m_rows)) {
        if (row->name() == name && row->process().filePath == path)
            out.append(row);
    }
}

void ApplicationList::findSameAs(const QString& key, QList<AppPtr>& out) const
{
    QMutexLocker locker(&m_mutex);
    const AppPtr row = find(key);
    if (row)
        findSame(row->name(), row->process().filePath, out);
}

int ApplicationList::sortType() const
{
    QMutexLocker locker(&m_mutex);
    return m_sortType;
}

int ApplicationList::setSortType(int type)
{
    if (quint32(type) >= SortTypeCount)
        return NotFound;
    QMutexLocker locker(&m_mutex);
    m_sortType = type;
    // The order is rebuilt every second and seldom changes. Rows already in
    // order are what the rebuild would give, and one pass tells.
    if (isInOrder())
        return 0;
    auto rows = std::make_unique<QList<AppPtr>>();
    rows->reserve(m_rows->size());
    for (const AppPtr& row : std::as_const(*m_rows))
        insertSorted(*rows, row);
    m_rows = std::move(rows);
    return 0;
}
