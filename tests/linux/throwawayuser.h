#pragma once

// An ordinary user made for one test run, named bwcu<PID> so that parallel
// runs never meet, and removed on tear-down, also when the test fails;
// sweep() removes the users of runs that were killed. A resident user also
// has a home under /home, a cgroup and a network namespace of the same name.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class ThrowawayUser
{
public:
    enum class Kind
    {
        Account, // no home, no login shell, in no group but its own
        Resident,
    };

    explicit ThrowawayUser(Kind kind = Kind::Account);
    ~ThrowawayUser() { tearDown(); }
    ThrowawayUser(const ThrowawayUser&) = delete;
    ThrowawayUser& operator=(const ThrowawayUser&) = delete;

    // Why it cannot be made here (not root, a tool missing), or a null string.
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

    // setpriv's arguments that run a shell command line as the user.
    QStringList as(const QString& commandLine) const;
    // A file in the home, made as the user would make it (owned by the user).
    bool write(const QString& relative, const QByteArray& data) const;
    bool chownToUser(const QString& path) const;
    // Runs the shell command line as the user inside the cgroup, from the
    // home; the program's stdin stays open until the process is ended.
    QProcess* start(const QString& commandLine);
    void stopPrograms();

private:
    Kind m_kind;
    QString m_name;
    QString m_home;
    QString m_cgroup;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_made = false;
    QList<QProcess*> m_processes;
};
