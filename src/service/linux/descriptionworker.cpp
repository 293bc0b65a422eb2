#include "descriptionworker.h"

#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

struct DescriptionWorker::Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::deque<QString> queue;
    QString current;
    Clock::time_point startedAt;
    bool stop = false;      // the owner is gone: post nothing more
    bool abandoned = false; // counted in *abandonedCount until the thread ends
    bool ended = false;
    std::shared_ptr<std::atomic<int>> abandonedCount;
    std::thread thread;
};

DescriptionWorker::DescriptionWorker(const Factory& factory, QObject* receiver, const Done& done,
                                     std::shared_ptr<std::atomic<int>> abandoned)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->abandonedCount = std::move(abandoned);
    const std::shared_ptr<Shared> shared = m_shared;
    QObject* target = receiver;
    m_shared->thread = std::thread([shared, factory, target, done] {
        const Describe describe = factory();
        std::unique_lock<std::mutex> lock(shared->mutex);
        while (true) {
            shared->wake.wait(lock, [&] { return shared->stop || !shared->queue.empty(); });
            if (shared->stop)
                break;
            const QString path = shared->queue.front();
            shared->queue.pop_front();
            shared->current = path;
            shared->startedAt = Clock::now();
            lock.unlock();
            const ProcessDescriber::Description description = describe(path);
            lock.lock();
            shared->current.clear();
            if (shared->stop || shared->abandoned)
                break;
            // Posted under the lock: the owner's destructor takes it before
            // the receiver goes, so the receiver is alive here.
            QMetaObject::invokeMethod(
                target, [done, path, description] { done(path, description); },
                Qt::QueuedConnection);
        }
        if (shared->abandoned)
            --*shared->abandonedCount;
        shared->ended = true;
        shared->finished.notify_all();
    });
}

DescriptionWorker::~DescriptionWorker()
{
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->stop = true;
    m_shared->wake.notify_all();
    const bool ended = !m_shared->abandoned &&
                       m_shared->finished.wait_for(lock, std::chrono::milliseconds(GraceMs),
                                                   [this] { return m_shared->ended; });
    lock.unlock();
    if (ended)
        m_shared->thread.join();
    else
        m_shared->thread.detach();
}

void DescriptionWorker::post(const QString& path)
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->queue.push_back(path);
    m_shared->wake.notify_one();
}

int DescriptionWorker::queued() const
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    return int(m_shared->queue.size());
}

QString DescriptionWorker::current(qint64* runningMs) const
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_shared->current.isNull())
        return QString();
    *runningMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_shared->startedAt)
            .count();
    return m_shared->current;
}

QStringList DescriptionWorker::abandon()
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    QStringList waiting(m_shared->queue.begin(), m_shared->queue.end());
    m_shared->queue.clear();
    if (!m_shared->abandoned && !m_shared->ended) {
        m_shared->abandoned = true;
        ++*m_shared->abandonedCount;
    }
    m_shared->stop = true;
    m_shared->wake.notify_all();
    return waiting;
}
