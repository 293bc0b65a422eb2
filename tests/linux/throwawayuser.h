#pragma once

// An ordinary user made for one test run, with a home under /home, a cgroup
// and a network namespace of the run's own; all named bwchostile-PID and
// removed on tear-down, and sweep() removes what a killed run left.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class ThrowawayUser
{
public:
    ThrowawayUser();
    ~ThrowawayUser() { tearDown(); }

    // Why it cannot be made here (not root, no cgroup v2), or a null string.
    static QString unavailable();
    bool setUp(QString* error);
    void tearDown();
    static void sweep();
    // What of this run is still there (user, home, cgroup, namespace).
    QStringList leftovers() const;

    QString name() const { return m_name; }
    QString home() const { return m_home; }
    QString cgroup() const { return m_cgroup; }
    QString netnsPath() const { return QStringLiteral("/run/netns/") + m_name; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }

    // A file in the home, made as the user would make it (owned by the user).
    bool write(const QString& relative, const QByteArray& data) const;
    bool chownToUser(const QString& path) const;
    // Runs the shell command line as the user inside the cgroup; the
    // program's stdin stays open until the process is ended.
    QProcess* start(const QString& commandLine);
    void stopPrograms();

    static int run(const QString& program, const QStringList& args, QString* output = nullptr);

private:
    QString m_name;
    QString m_home;
    QString m_cgroup;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_made = false;
    QList<QProcess*> m_processes;
};
