#pragma once

// Two network namespaces joined by a veth pair (IPv4 and IPv6) and a cgroup
// of the test's own, for the Linux backend's tests. Everything carries one
// prefix, so sweep() removes what a test that was killed left behind.

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class NetLab
{
public:
    enum Side
    {
        A, // where the measured programs run
        B, // their peers
        C, // after setUpRouted(): a namespace whose traffic A routes to B (IPv4)
    };

    NetLab();
    ~NetLab() { tearDown(); }

    // Why the lab cannot run here (not root, a tool missing), or a null string.
    static QString unavailable();
    bool setUp(QString* error);
    // Adds C, joined to A by a veth pair, with A forwarding between C and B.
    bool setUpRouted(QString* error);
    void tearDown();
    // Removes every namespace and cgroup of any lab, this one's or a dead run's.
    static void sweep();
    // What of any lab is still there, one line per thing; empty when clean.
    static QStringList leftovers();
    static QString prefix() { return QStringLiteral("bwcmon"); }

    QString netns(Side side) const;
    QString netnsPath(Side side) const { return QStringLiteral("/run/netns/") + netns(side); }
    QString cgroup() const { return m_cgroup; }
    QString address(Side side, bool v6) const;

    // Starts a program in a namespace, inside the lab's cgroup if measured;
    // the lab ends it on tear-down.
    QProcess* start(Side side, bool measured, const QString& program, const QStringList& args);
    // start(), then waits until the program prints readyText; null if it ends first.
    QProcess* startReady(Side side, bool measured, const QString& program, const QStringList& args,
                         const QString& readyText);
    // Ends every program start() started.
    void stopPrograms();
    // Reads the process's output until it has the text; false if it ends or the time is up first.
    static bool waitForOutput(QProcess* process, const QString& text, int timeoutMs = 15000);
    // Runs the event loop (a backend on the test's thread needs it) until the
    // process ends, with its standard output to output if given; true when it
    // ended with exit code 0.
    static bool finish(QProcess* process, QByteArray* output = nullptr, int timeoutMs = 60000);
    // Runs a command to its end; gives its exit code (-1 if it did not finish).
    static int run(const QString& program, const QStringList& args, QString* output = nullptr);

private:
    QString m_name;
    QString m_cgroup;
    QList<QProcess*> m_processes;
};
