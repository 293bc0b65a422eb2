#pragma once

// bwcd as a child process on a free loopback port, for end-to-end tests and
// benchmarks.

#include <QProcess>
#include <QScopedPointer>
#include <QStringList>
#include <QTemporaryFile>

class DaemonProcess
{
public:
    ~DaemonProcess();

    // A port nobody listens on right now: listen on port 0, read it, close.
    static quint16 freePort();

    // Starts bwcd with --port (a free one unless given) and --state plus the
    // extra arguments; true once it says it listens.
    bool start(const QString& statePath, const QStringList& extra = {}, int timeoutMs = 10000);
    // SIGTERM, then waits; gives the exit code, or -1 if it did not end cleanly.
    int terminate(int timeoutMs = 10000);
    // SIGKILL, then waits.
    void kill();

    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // Everything the child wrote to standard error so far.
    QString errorOutput();
    QProcess& process() { return m_process; }

    static QString program();

private:
    QProcess m_process;
    QScopedPointer<QTemporaryFile> m_log;
    quint16 m_port = 0;
};
