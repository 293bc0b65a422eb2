#pragma once

#include "processdescriber.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

// One thread that makes descriptions, one at a time, in the order asked, and
// hands each to a callback on the owner's thread. A thread blocked in a
// file-system call cannot be stopped: when a description outlasts its
// deadline the owner abandons the worker (it ends on its own once the call
// returns, its result dropped) and starts another.
class DescriptionWorker
{
public:
    using Describe = std::function<ProcessDescriber::Description(const QString& path)>;
    // Makes a worker's describing function, on that worker's thread.
    using Factory = std::function<Describe()>;
    // Called on receiver's thread with each finished description.
    using Done = std::function<void(const QString& path, const ProcessDescriber::Description&)>;

    DescriptionWorker(const Factory& factory, QObject* receiver, const Done& done,
                      std::shared_ptr<std::atomic<int>> abandoned);
    // Joins the thread if it finishes within GraceMs, else (and when
    // abandoned) leaves it behind.
    ~DescriptionWorker();

    void post(const QString& path);
    int queued() const;
    // The path being described and for how long (ms), or a null string.
    QString current(qint64* runningMs) const;
    // Gives up on the thread; gives back what was still waiting.
    QStringList abandon();

    static constexpr int GraceMs = 200;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
