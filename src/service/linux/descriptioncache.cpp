#include "descriptioncache.h"

#include <QtDebug>

#include <algorithm>

DescriptionCache::DescriptionCache(const DescriptionWorker::Factory& factory,
                                   const Options& options, QObject* parent)
    : QObject(parent), m_factory(factory), m_options(options),
      m_abandoned(std::make_shared<std::atomic<int>>(0))
{
    m_clock.start();
    m_watch.setInterval(std::max(10, m_options.deadlineMs / 4));
    connect(&m_watch, &QTimer::timeout, this, &DescriptionCache::checkDeadline);
}

DescriptionCache::~DescriptionCache() = default;

bool DescriptionCache::ensureWorker()
{
    if (m_worker)
        return true;
    if (*m_abandoned >= m_options.maxAbandoned)
        return false;
    m_worker = std::make_unique<DescriptionWorker>(
        m_factory, this,
        [this](const QString& path, const ProcessDescriber::Description& description) {
            onDescribed(path, description);
        },
        m_abandoned);
    return true;
}

Process DescriptionCache::describe(const QString& path)
{
    auto it = m_entries.find(path);
    if (it == m_entries.end()) {
        trim();
        Entry entry;
        entry.process = ProcessDescriber::plain(path).toProcess();
        it = m_entries.insert(path, entry);
    }
    it->used = ++m_uses;
    const qint64 now = m_clock.elapsed();
    const bool fresh = it->real && now - it->madeAt < m_options.lifetimeMs;
    if (!fresh && !it->pending && now >= it->retryAt)
        request(path, &*it);
    return it->process;
}

void DescriptionCache::request(const QString& path, Entry* entry)
{
    if (!ensureWorker())
        return;
    entry->pending = true;
    ++m_pending;
    m_worker->post(path);
    m_watch.start();
}

bool DescriptionCache::isDescribed(const QString& path) const
{
    const auto it = m_entries.constFind(path);
    return it != m_entries.constEnd() && it->real;
}

void DescriptionCache::forget(const QString& path)
{
    const auto it = m_entries.constFind(path);
    if (it == m_entries.constEnd())
        return;
    if (it->pending)
        --m_pending; // its answer finds no entry and is dropped
    m_entries.erase(it);
}

void DescriptionCache::onDescribed(const QString& path,
                                   const ProcessDescriber::Description& description)
{
    const auto it = m_entries.find(path);
    if (it == m_entries.end() || !it->pending)
        return;
    it->process = description.toProcess();
    it->real = true;
    it->pending = false;
    it->madeAt = m_clock.elapsed();
    if (--m_pending == 0)
        m_watch.stop();
    emit described(path);
}

void DescriptionCache::checkDeadline()
{
    if (!m_worker)
        return;
    qint64 running = 0;
    const std::optional<QString> current = m_worker->current(&running);
    if (!current || running < m_options.deadlineMs)
        return;
    const QString stuck = *current;
    qDebug("DescriptionCache: describing %s takes over %d ms; it is tried again in %d s",
           qPrintable(stuck), m_options.deadlineMs, m_options.retryAfterMs / 1000);
    const QList<QString> waiting = m_worker->abandon();
    m_worker.reset();
    const qint64 now = m_clock.elapsed();
    auto it = m_entries.find(stuck);
    if (it != m_entries.end() && it->pending) {
        it->pending = false;
        it->retryAt = now + m_options.retryAfterMs;
        --m_pending;
    }
    if (*m_abandoned >= m_options.maxAbandoned)
        qWarning("DescriptionCache: %d descriptions are stuck in the file system; programs keep "
                 "their file names until one returns",
                 int(*m_abandoned));
    for (const QString& path : waiting) {
        it = m_entries.find(path);
        if (it == m_entries.end() || !it->pending)
            continue;
        if (ensureWorker()) {
            m_worker->post(path);
        } else {
            it->pending = false;
            --m_pending;
        }
    }
    if (m_pending == 0)
        m_watch.stop();
}

void DescriptionCache::trim()
{
    if (m_entries.size() < m_options.capacity)
        return;
    // The least recently asked for eighth goes at once, so that trimming is rare.
    QList<quint64> uses;
    uses.reserve(m_entries.size());
    for (const Entry& entry : std::as_const(m_entries))
        uses.append(entry.used);
    const qsizetype cut = std::max<qsizetype>(1, uses.size() / 8);
    std::nth_element(uses.begin(), uses.begin() + cut - 1, uses.end());
    const quint64 oldest = uses[cut - 1];
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->used <= oldest) {
            if (it->pending)
                --m_pending;
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}
