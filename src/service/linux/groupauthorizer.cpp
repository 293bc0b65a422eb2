#include "groupauthorizer.h"

#include <QFile>
#include <QVarLengthArray>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

// The reentrant forms: the transport's thread asks while others may too.
bool userRecord(uid_t uid, passwd* user, std::vector<char>* buffer)
{
    passwd* found = nullptr;
    buffer->resize(16384);
    return ::getpwuid_r(uid, user, buffer->data(), buffer->size(), &found) == 0 && found;
}

bool groupId(const QString& name, gid_t* gid)
{
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(65536);
    if (::getgrnam_r(QFile::encodeName(name).constData(), &entry, buffer.data(), buffer.size(),
                     &found) != 0 ||
        !found)
        return false;
    *gid = entry.gr_gid;
    return true;
}

} // namespace

GroupAuthorizer::GroupAuthorizer(const QString& group) : m_group(group) {}

bool GroupAuthorizer::userMayChange(uid_t uid) const
{
    if (uid == 0 || uid == ::geteuid())
        return true;
    passwd user{};
    std::vector<char> buffer;
    gid_t wanted = 0;
    if (!groupId(m_group, &wanted) || !userRecord(uid, &user, &buffer))
        return false;
    // getgrouplist covers the primary group and every supplementary one.
    QVarLengthArray<gid_t, 64> groups(64);
    int count = int(groups.size());
    if (::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
        groups.resize(count);
        if (::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0)
            return false;
    }
    for (int i = 0; i < count; ++i) {
        if (groups[i] == wanted)
            return true;
    }
    return false;
}

QString GroupAuthorizer::describe(uid_t uid, bool mayChange) const
{
    passwd user{};
    std::vector<char> buffer;
    const QString name = userRecord(uid, &user, &buffer) ? QString::fromLocal8Bit(user.pw_name)
                                                         : QString::number(uid);
    if (mayChange)
        return QStringLiteral("user %1 (uid %2)").arg(name).arg(uid);
    return QStringLiteral("user %1 (uid %2), who is neither root nor in the group %3")
        .arg(name)
        .arg(uid)
        .arg(m_group);
}
