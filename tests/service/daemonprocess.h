#pragma once

// bwcd as a child process on a free loopback port, for end-to-end tests and benchmarks.

#include <QProcess>
#include <QScopedPointer>
#include <QTemporaryFile>

#include <csignal>

class DaemonProcess
{
public:
    ~DaemonProcess() { terminate(SIGKILL); }
    static quint16 freePort(); // nobody listens on it right now
    static QString program() { return QStringLiteral(BWCD_PATH); }
    // Starts bwcd on a free port with --state and the extra arguments; true once it listens.
    bool start(const QString& statePath, const QStringList& extra = {}, int timeoutMs = 10000);
    // Signals it if it still runs and waits; gives the exit code, -1 unless it exited.
    int terminate(int signalNumber = SIGTERM, int timeoutMs = 10000);
    quint16 port() const { return m_port; }
    // Descriptors the daemon may hold (0: as inherited); set before start().
    int descriptorLimit = 0;
    // Its nice value (0: as inherited); set before start().
    int niceness = 0;
    // Variables it gets beside those of the test's environment at start(); set before start().
    QProcessEnvironment environment;
    // CPU time it has used so far, in milliseconds; -1 when it cannot be read.
    qint64 cpuTimeMs() const;
    // The most memory it has held, and what it holds now, in kB; -1 when it cannot be read.
    qint64 peakMemoryKb() const { return statusKb("VmHWM:"); }
    qint64 residentKb() const { return statusKb("VmRSS:"); }
    // What it holds of its own (heap, stacks, maps), without the pages of the
    // libraries' code it has touched: those count in residentKb() from the
    // first time a path runs, are bounded by the libraries' size, and vary
    // with what the machine has cached.
    qint64 anonymousKb() const { return statusKb("RssAnon:"); }
    qint64 pid() const { return m_process.processId(); }
    QString errorOutput(); // all it wrote to standard error so far

private:
    qint64 statusKb(const QByteArray& field) const;

    QProcess m_process;
    QScopedPointer<QTemporaryFile> m_log;
    quint16 m_port = 0;
};
