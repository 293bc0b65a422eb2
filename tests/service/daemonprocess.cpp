#include "daemonprocess.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>

#include <sys/resource.h>
#include <unistd.h>

quint16 DaemonProcess::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool DaemonProcess::start(const QString& statePath, const QStringList& extra, int timeoutMs)
{
    m_port = freePort();
    // Standard error to a file: an undrained pipe would fill and stall the daemon.
    m_log.reset(new QTemporaryFile);
    if (!m_log->open())
        return false;
    m_process.setStandardOutputFile(QProcess::nullDevice());
    const rlim_t limit = rlim_t(descriptorLimit);
    const int nice = niceness;
    m_process.setChildProcessModifier([limit, nice] {
        const struct rlimit descriptors = {limit, limit};
        if (limit > 0)
            setrlimit(RLIMIT_NOFILE, &descriptors);
        if (nice != 0)
            setpriority(PRIO_PROCESS, 0, nice);
    });
    m_process.setStandardErrorFile(m_log->fileName());
    QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
    inherited.insert(environment);
    m_process.setProcessEnvironment(inherited);
    m_process.start(program(),
                    extra + QStringList{"--port", QString::number(m_port), "--state", statePath});
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    const QString ready = QStringLiteral("listening on 127.0.0.1:%1\n").arg(m_port);
    const QDeadlineTimer deadline(timeoutMs);
    while (!errorOutput().contains(ready)) {
        // Waiting for an exit is the pause between looks, and notices one.
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning ||
            m_process.waitForFinished(20))
            return false;
    }
    return true;
}

int DaemonProcess::terminate(int signalNumber, int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning) {
        ::kill(pid_t(pid()), signalNumber);
        if (!m_process.waitForFinished(timeoutMs))
            return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString DaemonProcess::errorOutput()
{
    QFile log(m_log ? m_log->fileName() : QString());
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

qint64 DaemonProcess::cpuTimeMs() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command name, which is in parentheses: utime and stime are 14 and 15.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const qint64 ticks = fields.at(11).toLongLong() + fields.at(12).toLongLong();
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

qint64 DaemonProcess::statusKb(const QByteArray& field) const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
