#pragma once

#include "descriptionworker.h"
#include "process.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>

// Descriptions of executables for the service's clients, answered at once
// and never made on the caller's thread: a path not described yet gets its
// plain description (file name, drawn icon) while a worker makes the real
// one. A description that takes longer than the deadline is given up (the
// worker with it) and not tried again for retryAfterMs; one that is older
// than lifetimeMs is made again when next asked for, the old one answering
// meanwhile. At most capacity paths are kept, the least recently asked
// for leaving first.
class DescriptionCache : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        int deadlineMs = 1000;
        int retryAfterMs = 60000;
        int lifetimeMs = 60000;
        int capacity = 512;
        // Workers left blocked at once; beyond them every program keeps its
        // plain description until one of them returns.
        int maxAbandoned = 4;
    };

    DescriptionCache(const DescriptionWorker::Factory& factory, const Options& options,
                     QObject* parent = nullptr);
    ~DescriptionCache() override;

    Process describe(const QString& path);
    // Whether the real description of the path is in.
    bool isDescribed(const QString& path) const;
    void forget(const QString& path);
    int size() const { return int(m_entries.size()); }
    int abandonedWorkers() const { return *m_abandoned; }

signals:
    // The real description of the path is in (again).
    void described(const QString& path);

private:
    struct Entry
    {
        Process process; // plain until the real one is in
        bool real = false;
        bool pending = false;
        qint64 madeAt = 0;
        qint64 retryAt = 0;
        quint64 used = 0;
    };

    void request(const QString& path, Entry* entry);
    void onDescribed(const QString& path, const ProcessDescriber::Description& description);
    void checkDeadline();
    bool ensureWorker();
    void trim();

    DescriptionWorker::Factory m_factory;
    Options m_options;
    std::shared_ptr<std::atomic<int>> m_abandoned;
    std::unique_ptr<DescriptionWorker> m_worker;
    QHash<QString, Entry> m_entries;
    QElapsedTimer m_clock;
    QTimer m_watch;
    quint64 m_uses = 0;
    int m_pending = 0;
};
