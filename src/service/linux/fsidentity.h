#pragma once

#include <sys/types.h>

#include <vector>

// For as long as it lives, the calling thread opens files as another user:
// the file-system user and group (setfsuid/setfsgid) and a group list of that
// user's primary group alone. Only this thread changes; bwcd's other threads
// keep root's rights. The user's supplementary groups are left out, so the
// thread may read less than the user could, never more.
class FsIdentity
{
public:
    struct User
    {
        uid_t uid = 0;
        gid_t gid = 0;
    };

    explicit FsIdentity(const User& user);
    ~FsIdentity();
    FsIdentity(const FsIdentity&) = delete;
    FsIdentity& operator=(const FsIdentity&) = delete;

    // False when the thread could not take the identity (bwcd is not root):
    // then nothing may be read on that user's behalf.
    bool active() const { return m_active; }

    // This thread's file-system user now.
    static uid_t currentUid();

private:
    void restore();

    bool m_active = false;
    bool m_switched = false;
    uid_t m_oldUid = 0;
    gid_t m_oldGid = 0;
    std::vector<gid_t> m_oldGroups;
};
