#pragma once

#include <QString>

// The unified (v2) cgroup hierarchy, wherever this system mounts it: at
// /sys/fs/cgroup on most desktops, beside the v1 controllers elsewhere.
class CgroupFs
{
public:
    // The mount point from /proc/self/mountinfo, or a null string.
    static QString mountPoint();
    // The process's v2 cgroup relative to the hierarchy's root ("/" for the
    // root, "/user.slice/..."), or a null string when it is gone.
    static QString cgroupOf(quint32 pid);
    // Whether path lies in or below the cgroup under (both relative to the root).
    static bool isWithin(const QString& path, const QString& under);
};
