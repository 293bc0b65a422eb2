#include "fsidentity.h"

#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The C library's setgroups() changes every thread of the process; the
// system call changes the calling thread alone, which is what is wanted here.
bool setThreadGroups(const std::vector<gid_t>& groups)
{
    return syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
}

gid_t currentGid()
{
    return gid_t(setfsgid(gid_t(-1)));
}

} // namespace

uid_t FsIdentity::currentUid()
{
    return uid_t(setfsuid(uid_t(-1)));
}

FsIdentity::FsIdentity(const User& user)
{
    m_oldUid = currentUid();
    m_oldGid = currentGid();
    if (m_oldUid == user.uid && m_oldGid == user.gid) {
        m_active = true;
        return;
    }
    const int count = getgroups(0, nullptr);
    if (count < 0)
        return;
    m_oldGroups.resize(size_t(count));
    if (count > 0 && getgroups(count, m_oldGroups.data()) != count)
        return;
    if (!setThreadGroups({user.gid}))
        return;
    m_switched = true;
    setfsgid(user.gid);
    setfsuid(user.uid);
    m_active = currentGid() == user.gid && currentUid() == user.uid;
    if (!m_active)
        restore();
}

FsIdentity::~FsIdentity()
{
    if (m_switched)
        restore();
}

void FsIdentity::restore()
{
    // The user first: root's file-system capabilities come back with it.
    setfsuid(m_oldUid);
    setfsgid(m_oldGid);
    setThreadGroups(m_oldGroups);
    m_switched = false;
}
