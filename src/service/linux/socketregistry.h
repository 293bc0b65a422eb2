#pragma once

#include "appnumbering.h"

#include <QtGlobal>

#include <functional>

// The single source of truth about which application a socket belongs to,
// shared by everything in bwcd that looks at packets.
//
// Two BPF maps hold it, both created by the traffic monitor's BPF object:
//  - "sock_tags" (BPF_MAP_TYPE_SK_STORAGE, BPF_F_NO_PREALLOC | BPF_F_CLONE,
//    key int, value struct bwc_sock_tag from bwcshared.h): every IPv4/IPv6
//    socket's application number and creating process. It is written when a
//    socket is made (cgroup/sock_create), copied to sockets a server accepts
//    (BPF_F_CLONE), completed on the first packet once the process is known,
//    handed over in the kernel to the process that sends on a
//    socket it did not make or kept across its exec, and written from here
//    for sockets that predate bwcd or that a process keeps across exec.
//  - "tgid_apps" (BPF_MAP_TYPE_HASH, key __u32 tgid, value struct
//    bwc_tgid_app): the application of each process, which the sock_create
//    program copies into new sockets' tags. The exec program writes it from
//    "exe_apps" (key struct bwc_exe_key, value struct bwc_exe_app: the
//    application of each executable file known here, kept from here), the
//    fork program copies it to children, and this class completes it where
//    the kernel cannot name a process (a new program, a script).
//
// Another BPF object (the shaper's classifiers) reuses both by file
// descriptor instead of creating its own: declare the maps with the same
// type, flags, key and value in its .bpf.c, and before loading call
// bpf_map__reuse_fd(map, registry.sockTagsFd()) and
// bpf_map__reuse_fd(map, registry.tgidAppsFd()). It must only read them:
// tags are written here and by the monitor's programs alone. The numbers in
// the tags come from numbering(), which maps them back to application paths
// (and so to the service's application ids); number 0 means not known.
//
// Its programs should attach through links (bpf_program__attach_cgroup,
// bpf_program__attach_tcx/netlink), which the kernel removes when bwcd ends,
// and be named "bwc_..." so that TrafficMonitor::sweepLeftovers() also clears
// old-style cgroup attachments a crashed run may have left.
//
// The descriptors stay valid while the traffic monitor that owns the maps
// runs; this class does not own them. LinuxBackend::registry() gives it and
// LinuxBackend::numberOf(id) the number of a service application id.
class SocketRegistry
{
public:
    // exeAppsFd: the executables' map.
    SocketRegistry(int sockTagsFd, int tgidAppsFd, int exeAppsFd);

    int sockTagsFd() const { return m_sockTags; }
    int tgidAppsFd() const { return m_tgidApps; }
    AppNumbering& numbering() { return m_numbering; }
    const AppNumbering& numbering() const { return m_numbering; }

    // New sockets of the process take the application from now on; the
    // process is known to hold sockets.
    bool setProcessApp(quint32 tgid, quint32 app);
    // Names a process the kernel knows (and only while it does: never for
    // one that has ended), leaving the rest of what the kernel holds.
    bool nameProcess(quint32 tgid, quint32 app);
    // Whether the kernel has seen the process run a program of its own since
    // it was forked (or user space named it for itself): what its parent was
    // no longer names it.
    bool ranItsOwnProgram(quint32 tgid) const;
    // Processes that run this executable file (by device and inode as the
    // kernel encodes them) are of the application from their exec on. An
    // interpreter's processes are named here by their script, and follow
    // its rules (app, 0 for the defaults) until then.
    bool setExecutable(quint32 dev, quint64 ino, quint32 app, bool interpreter);
    // The same for the file at path, as this process sees it.
    bool setExecutable(const QString& path, quint32 app, bool interpreter);
    // Drops every executable of an application that is forgotten, and
    // unnames the processes the kernel knows by it: their next socket is
    // announced again, and they are numbered anew.
    void forgetApplication(quint32 app);
    void forgetProcess(quint32 tgid);
    // Tags every IPv4 and IPv6 socket the process holds with the application
    // and the process. Gives how many it tagged, or -1 when the process
    // cannot be reached (gone, or not ours to look into).
    int tagSocketsOf(quint32 tgid, quint32 app) const;
    // Tags only those of its sockets whose application is not known yet.
    int tagUntaggedSocketsOf(quint32 tgid, quint32 app) const;
    // How many IPv4 and IPv6 sockets the process holds, -1 as above.
    static int inetSocketsOf(quint32 tgid);
    // Whether the process holds any socket at all (a cheap look before tagging).
    static bool holdsSockets(quint32 tgid);

private:
    // Calls visit with a descriptor of each IPv4 and IPv6 socket the process
    // holds; gives how many visits returned true, -1 as above.
    static int forEachInetSocket(quint32 tgid, const std::function<bool(int)>& visit);

    int m_sockTags;
    int m_tgidApps;
    int m_exeApps;
    AppNumbering m_numbering;
};
