#include "processreader.h"

#include "appidentity.h"
#include "pathtext.h"

#include <QtDebug>

ProcessReader::ProcessReader(const ReadArguments& read, QObject* parent)
    : ProcessReader(read, Options(), parent)
{}

ProcessReader::ProcessReader(const ReadArguments& read, const Options& options, QObject* parent)
    : QObject(parent), m_read(read ? read : &AppIdentity::argumentsOf), m_options(options),
      m_abandoned(std::make_shared<std::atomic<int>>(0))
{
    m_watch.setInterval(std::max(10, m_options.deadlineMs / 4));
    connect(&m_watch, &QTimer::timeout, this, &ProcessReader::checkDeadline);
}

ProcessReader::~ProcessReader() = default;

bool ProcessReader::nameOf(const ExecRecord& record, Name* name)
{
    if (!AppIdentity::ofExec(record, &name->path))
        return false;
    const QString exe = PathText::fromBytes(record.exe);
    name->byExecutable = !AppIdentity::isInterpreter(exe) && name->path == exe;
    name->dev = record.dev;
    name->ino = record.ino;
    return true;
}

ProcessReader::Name ProcessReader::plainName(const ExecRecord& record)
{
    ExecRecord bare = record;
    bare.args.clear();
    Name name;
    nameOf(bare, &name);
    return name;
}

ProcessReader::Outcome ProcessReader::name(quint32 pid, Name* name)
{
    if (m_reading.contains(pid))
        return Reading;
    ExecRecord record;
    if (!AppIdentity::recordOfProcess(pid, &record))
        return Gone;
    return this->name(record, name);
}

ProcessReader::Outcome ProcessReader::name(const ExecRecord& record, Name* name)
{
    if (record.exe.isEmpty())
        return Gone;
    if (!AppIdentity::isInterpreter(PathText::fromBytes(record.exe))) {
        m_reading.remove(record.tgid);
        return nameOf(record, name) ? Known : Gone;
    }
    if (!ensureWorker()) {
        // Every worker is stuck on a process or a file system that does not answer.
        m_reading.remove(record.tgid);
        *name = plainName(record);
        return Known;
    }
    const Job job{record, ++m_jobs};
    m_reading.insert(record.tgid, job);
    m_worker->post(job);
    m_watch.start();
    return Reading;
}

bool ProcessReader::ensureWorker()
{
    if (m_worker)
        return true;
    if (*m_abandoned >= m_options.maxAbandoned)
        return false;
    const ReadArguments read = m_read;
    m_worker = std::make_unique<Worker>(
        [read] {
            return [read](const Job& job) {
                ExecRecord whole = job.record;
                // The kernel gives them at exec; otherwise they are read now.
                if (!whole.atExec && whole.args.isEmpty())
                    whole.args = read(whole.tgid);
                Name name;
                if (!nameOf(whole, &name))
                    name = plainName(whole);
                return name;
            };
        },
        this, [this](const Job& job, const Name& name) { finish(job, name); }, m_abandoned);
    return true;
}

void ProcessReader::finish(const Job& job, const Name& name)
{
    const auto it = m_reading.constFind(job.record.tgid);
    if (it == m_reading.constEnd() || it->sequence != job.sequence)
        return; // superseded by what the kernel said since
    m_reading.erase(it);
    if (m_reading.isEmpty())
        m_watch.stop();
    emit named(job.record.tgid, name);
}

void ProcessReader::checkDeadline()
{
    if (!m_worker)
        return;
    qint64 running = 0;
    const std::optional<Job> stuck = m_worker->current(&running);
    if (!stuck || running < m_options.deadlineMs)
        return;
    qDebug("ProcessReader: naming process %u takes over %d ms (its arguments or its script do "
           "not answer); it is named by its interpreter",
           stuck->record.tgid, m_options.deadlineMs);
    const QList<Job> waiting = m_worker->abandon();
    m_worker.reset();
    finish(*stuck, plainName(stuck->record));
    for (const Job& job : waiting) {
        const auto it = m_reading.constFind(job.record.tgid);
        if (it == m_reading.constEnd() || it->sequence != job.sequence)
            continue;
        if (ensureWorker())
            m_worker->post(job);
        else
            finish(job, plainName(job.record));
    }
}
