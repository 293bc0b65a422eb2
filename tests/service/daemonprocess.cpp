#include "daemonprocess.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>

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
    m_process.setStandardErrorFile(m_log->fileName());
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
