#include "daemonprocess.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

DaemonProcess::~DaemonProcess()
{
    if (m_process.state() != QProcess::NotRunning)
        kill();
}

quint16 DaemonProcess::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool DaemonProcess::start(const QString& statePath, const QStringList& extra, int timeoutMs)
{
    QStringList arguments = extra;
    if (!arguments.contains(QStringLiteral("--port"))) {
        m_port = freePort();
        arguments << QStringLiteral("--port") << QString::number(m_port);
    } else {
        m_port = quint16(arguments.at(arguments.indexOf(QStringLiteral("--port")) + 1).toUInt());
    }
    arguments << QStringLiteral("--state") << statePath;
    // Standard error goes to a file: a pipe that nobody drains while a test
    // blocks on its socket would fill and stall the daemon.
    m_log.reset(new QTemporaryFile);
    if (!m_log->open())
        return false;
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(m_log->fileName());
    m_process.start(program(), arguments);
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    const QString ready = QStringLiteral("listening on 127.0.0.1:%1\n").arg(m_port);
    const QDeadlineTimer deadline(timeoutMs);
    while (!errorOutput().contains(ready)) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(20);
    }
    return true;
}

int DaemonProcess::terminate(int timeoutMs)
{
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void DaemonProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(10000);
}

QString DaemonProcess::errorOutput()
{
    if (!m_log)
        return QString();
    QFile log(m_log->fileName());
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

QString DaemonProcess::program()
{
    return QStringLiteral(BWCD_PATH);
}
