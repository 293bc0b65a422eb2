#pragma once

#include <QList>
#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// One thread that does calls which may block in the kernel (a file a user
// controls, another process's memory), one at a time, in the order asked,
// and hands each result to a callback on the owner's thread. A thread
// blocked in a system call cannot be stopped: when a call outlasts its
// deadline the owner abandons the worker (it ends on its own once the call
// returns, its result dropped) and starts another.
template <typename Key, typename Result> class BlockingWorker
{
public:
    using Call = std::function<Result(const Key&)>;
    // Makes a worker's calling function, on that worker's thread.
    using Factory = std::function<Call()>;
    // Called on receiver's thread with each finished call.
    using Done = std::function<void(const Key&, const Result&)>;

    BlockingWorker(const Factory& factory, QObject* receiver, const Done& done,
                   std::shared_ptr<std::atomic<int>> abandoned)
        : m_shared(std::make_shared<Shared>())
    {
        m_shared->abandonedCount = std::move(abandoned);
        const std::shared_ptr<Shared> shared = m_shared;
        m_shared->thread = std::thread(
            [shared, factory, receiver, done] { run(shared, factory, receiver, done); });
    }
    // Joins the thread if it finishes within GraceMs, else (and when
    // abandoned) leaves it behind.
    ~BlockingWorker()
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
    BlockingWorker(const BlockingWorker&) = delete;
    BlockingWorker& operator=(const BlockingWorker&) = delete;

    void post(const Key& key)
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->queue.push_back(key);
        m_shared->wake.notify_one();
    }
    int queued() const
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        return int(m_shared->queue.size());
    }
    // The key being worked on and for how long (ms), if any.
    std::optional<Key> current(qint64* runningMs) const
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        if (!m_shared->current)
            return std::nullopt;
        *runningMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                           m_shared->startedAt)
                         .count();
        return m_shared->current;
    }
    // Gives up on the thread; gives back what was still waiting.
    QList<Key> abandon()
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        QList<Key> waiting(m_shared->queue.begin(), m_shared->queue.end());
        m_shared->queue.clear();
        if (!m_shared->abandoned && !m_shared->ended) {
            m_shared->abandoned = true;
            ++*m_shared->abandonedCount;
        }
        m_shared->stop = true;
        m_shared->wake.notify_all();
        return waiting;
    }

    static constexpr int GraceMs = 200;

private:
    using Clock = std::chrono::steady_clock;
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable finished;
        std::deque<Key> queue;
        std::optional<Key> current;
        Clock::time_point startedAt;
        bool stop = false;      // the owner is gone: post nothing more
        bool abandoned = false; // counted in *abandonedCount until the thread ends
        bool ended = false;
        std::shared_ptr<std::atomic<int>> abandonedCount;
        std::thread thread;
    };

    static void run(const std::shared_ptr<Shared>& shared, const Factory& factory,
                    QObject* receiver, const Done& done)
    {
        const Call call = factory();
        std::unique_lock<std::mutex> lock(shared->mutex);
        while (true) {
            shared->wake.wait(lock, [&] { return shared->stop || !shared->queue.empty(); });
            if (shared->stop)
                break;
            const Key key = shared->queue.front();
            shared->queue.pop_front();
            shared->current = key;
            shared->startedAt = Clock::now();
            lock.unlock();
            const Result result = call(key);
            lock.lock();
            shared->current.reset();
            if (shared->stop || shared->abandoned)
                break;
            // Posted under the lock: the owner's destructor takes it before
            // the receiver goes, so the receiver is alive here.
            QMetaObject::invokeMethod(
                receiver, [done, key, result] { done(key, result); }, Qt::QueuedConnection);
        }
        if (shared->abandoned)
            --*shared->abandonedCount;
        shared->ended = true;
        shared->finished.notify_all();
    }

    std::shared_ptr<Shared> m_shared;
};
