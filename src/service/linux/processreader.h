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

// Names processes from what the kernel said at their exec, or from /proc for
// those it did not name (they ran before bwcd started, or the event was
// lost). Most are named at once. An interpreter's process is named by its
// script, and both looking at that file (a user's: it may lie on a file
// system that never answers) and reading another process's arguments (which
// waits for that process's memory map, which it can keep busy) are done on a
// worker with a deadline: a process not named in time is named by its
// interpreter.
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
    // The same for what the kernel told of it; a reading of the process
    // still out is superseded.
    Outcome name(const ExecRecord& record, Name* name);
    bool isReading(quint32 pid) const { return m_reading.contains(pid); }

    // Named from what /proc told; false when it names nothing.
    static bool nameOf(const ExecRecord& record, Name* name);

signals:
    // A process whose arguments were being read is named, on the owner's thread.
    void named(quint32 pid, const ProcessReader::Name& name);

private:
    struct Job
    {
        ExecRecord record;
        quint64 sequence = 0;
    };
    using Worker = BlockingWorker<Job, Name>;

    // Named by its executable alone, touching no file a user names.
    static Name plainName(const ExecRecord& record);
    bool ensureWorker();
    void finish(const Job& job, const Name& name);
    void checkDeadline();

    ReadArguments m_read;
    Options m_options;
    std::shared_ptr<std::atomic<int>> m_abandoned;
    std::unique_ptr<Worker> m_worker;
    QHash<quint32, Job> m_reading; // pid -> the job whose answer counts
    quint64 m_jobs = 0;
    QTimer m_watch;
};
