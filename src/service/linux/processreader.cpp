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

ProcessReader::Outcome ProcessReader::name(quint32 pid, Name* name)
{
    if (m_reading.contains(pid))
        return Reading;
    ExecRecord record;
    if (!AppIdentity::recordOfProcess(pid, &record))
        return Gone;
    if (!AppIdentity::isInterpreter(PathText::fromBytes(record.exe)))
        return nameOf(record, name) ? Known : Gone;
    if (!ensureWorker()) {
        // Every worker is stuck on a process that keeps its memory busy.
        return nameOf(record, name) ? Known : Gone;
    }
    m_reading.insert(pid, record);
    m_worker->post(record);
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
            return [read](const ExecRecord& record) {
                ExecRecord whole = record;
                whole.args = read(record.tgid);
                Name name;
                // The script is looked at here too: it is a user's file.
                if (whole.args.isEmpty() || !nameOf(whole, &name))
                    nameOf(record, &name);
                return name;
            };
        },
        this, [this](const ExecRecord& record, const Name& name) { finish(record.tgid, name); },
        m_abandoned);
    return true;
}

void ProcessReader::finish(quint32 pid, const Name& name)
{
    if (!m_reading.remove(pid))
        return;
    if (m_reading.isEmpty())
        m_watch.stop();
    emit named(pid, name);
}

void ProcessReader::checkDeadline()
{
    if (!m_worker)
        return;
    qint64 running = 0;
    const std::optional<ExecRecord> stuck = m_worker->current(&running);
    if (!stuck || running < m_options.deadlineMs)
        return;
    qDebug("ProcessReader: the arguments of process %u take over %d ms to read; it is named by "
           "its interpreter",
           stuck->tgid, m_options.deadlineMs);
    const QList<ExecRecord> waiting = m_worker->abandon();
    m_worker.reset();
    Name plain;
    nameOf(*stuck, &plain);
    finish(stuck->tgid, plain);
    for (const ExecRecord& record : waiting) {
        if (!m_reading.contains(record.tgid))
            continue;
        if (ensureWorker()) {
            m_worker->post(record);
        } else {
            nameOf(record, &plain);
            finish(record.tgid, plain);
        }
    }
}
