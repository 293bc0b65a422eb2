#pragma once

#include <QMap>
#include <QString>

// The network namespaces that processes of a cgroup live in, by the inode
// of their namespace file, each with one process that was found in it (a
// way in: /proc/PID/ns/net). Containers come and go, so callers look again
// from time to time; a namespace no process is in any more is not listed.
class NetnsFinder
{
public:
    // cgroupDir: a cgroup v2 directory whose processes (and its
    // descendants') count; empty: every process of the machine.
    explicit NetnsFinder(const QString& cgroupDir) : m_cgroup(cgroupDir) {}

    QMap<quint64, quint32> find() const;

    // The inode of a namespace file (/proc/PID/ns/net, /run/netns/NAME), 0 when unreadable.
    static quint64 inodeOf(const QString& path);
    // Opens the namespace of a process read-only when it still is the one
    // with that inode (the process may have gone and its number been reused).
    static int openOf(quint32 pid, quint64 inode);

    // The network namespaces kept alive by a mount (ip netns add, container
    // runtimes), each with one path it is mounted on, from the text of
    // /proc/self/mountinfo: such a namespace may have no process left in it.
    static QMap<quint64, QString> pinnedIn(const QByteArray& mountinfo);
    static QMap<quint64, QString> pinned();
    // Opens a mounted namespace read-only when the path still holds the
    // network namespace with that inode.
    static int openPinned(const QString& path, quint64 inode);

private:
    void collect(const QString& dir, QMap<quint64, quint32>* found) const;
    static void note(quint32 pid, QMap<quint64, quint32>* found);

    QString m_cgroup;
};
