#include "groupauthorizer.h"

#include "peercredentials.h"

#include <QFile>
#include <QVarLengthArray>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

GroupAuthorizer::GroupAuthorizer(const QString& group, SessionPorts ports)
    : m_group(group), m_ports(std::move(ports))
{}

bool GroupAuthorizer::userMayChange(uid_t uid) const
{
    if (uid == 0 || uid == ::geteuid())
        return true;
    const struct group* g = ::getgrnam(QFile::encodeName(m_group).constData());
    const passwd* user = ::getpwuid(uid);
    if (!g || !user)
        return false;
    const gid_t wanted = g->gr_gid;
    // getgrouplist covers the primary group and every supplementary one.
    QVarLengthArray<gid_t, 64> groups(64);
    int count = int(groups.size());
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(count);
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    for (int i = 0; i < count; ++i) {
        if (groups[i] == wanted)
            return true;
    }
    return false;
}

bool GroupAuthorizer::mayChange(const QUuid& session, QString* who) const
{
    quint16 clientPort = 0;
    quint16 serverPort = 0;
    uid_t uid = 0;
    if (!m_ports || !m_ports(session, &clientPort, &serverPort) ||
        !PeerCredentials::loopbackOwner(clientPort, serverPort, &uid)) {
        *who = QStringLiteral("a client whose user cannot be found");
        return false;
    }
    const passwd* user = ::getpwuid(uid);
    const QString name = user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
    if (userMayChange(uid)) {
        *who = name;
        return true;
    }
    *who = QStringLiteral("user %1 (uid %2), who is neither root nor in the group %3")
               .arg(name)
               .arg(uid)
               .arg(m_group);
    return false;
}
