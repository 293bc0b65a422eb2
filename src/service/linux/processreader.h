#pragma once

#include "blockingworker.h"
#include "execrecord.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

// Names processes from /proc, for those the kernel did not name at their exec
// (they ran before bwcd started, or the event was lost). Most are named at
// once. An interpreter's script is in its arguments, and reading another
// process's arguments waits for that process's memory map, which the process
// can keep busy: those are read on a worker with a deadline, and a process
// whose arguments do not come in time is named by its interpreter.
class ProcessReader : public QObject
{
    Q_OBJECT
public:
    struct Name
    {
        QString path;
        quint32 dev = 0; // the executable
        quint64 ino = 0;
        bool byExecutable = false; // the executable's file names the process
    };
    // Reads a process's arguments, on the worker's thread.
    using ReadArguments = std::function<QList<QByteArray>(quint32 pid)>;
    struct Options
    {
        int deadlineMs = 1000;
        // Workers left blocked at once; beyond them interpreters are named
        // by their interpreter until one of them returns.
        int maxAbandoned = 4;
    };
    enum Outcome
    {
        Known,
        Reading,
        Gone
    };

    explicit ProcessReader(const ReadArguments& read, QObject* parent = nullptr);
    ProcessReader(const ReadArguments& read, const Options& options, QObject* parent = nullptr);
    ~ProcessReader() override;

    // Known: *name is the process's name. Reading: named() follows for it.
    // Gone: the process is not there (or not readable).
    Outcome name(quint32 pid, Name* name);
    bool isReading(quint32 pid) const { return m_reading.contains(pid); }

    // Named from what /proc told; false when it names nothing.
    static bool nameOf(const ExecRecord& record, Name* name);

signals:
    // A process whose arguments were being read is named, on the owner's thread.
    void named(quint32 pid, const ProcessReader::Name& name);

private:
    using Worker = BlockingWorker<ExecRecord, Name>;

    bool ensureWorker();
    void finish(quint32 pid, const Name& name);
    void checkDeadline();

    ReadArguments m_read;
    Options m_options;
    std::shared_ptr<std::atomic<int>> m_abandoned;
    std::unique_ptr<Worker> m_worker;
    QHash<quint32, ExecRecord> m_reading; // pid -> what was read before its arguments
    QTimer m_watch;
};
