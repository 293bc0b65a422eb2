#pragma once

#include "bpf/enforcement.h"

#include <QFile>
#include <QHash>
#include <QPair>
#include <QString>

struct enforcement_bpf;

// The enforcement BPF object: its programs, their attachments and the maps
// that hold the rules. Attachments are BPF links owned by this process, so
// they vanish with it, also when it crashes: no rule outlives the service.
class EnforcementPrograms
{
public:
    EnforcementPrograms();
    ~EnforcementPrograms();
    EnforcementPrograms(const EnforcementPrograms&) = delete;
    EnforcementPrograms& operator=(const EnforcementPrograms&) = delete;

    // Loads the programs. With tagMapFd >= 0 they read the socket tags of
    // that map (the observer's) instead of a map of their own, and with
    // processMapFd >= 0 its applications of processes.
    bool load(int tagMapFd, int processMapFd, QString* error);
    int tagMapFd() const;

    // Attaches the socket and cgroup packet programs to a cgroup v2
    // directory; they then govern every process below it.
    bool attachCgroup(const QString& cgroupPath, QString* error);
    // Whether the kernel attaches the download classifier (tc BPF links,
    // Linux 6.6): tried on the loopback device and taken off at once.
    bool canAttachDownload(QString* error);
    // Sends the received packets of a device of the calling thread's
    // network namespace (netns: its cookie) through its IFB device;
    // linkHeader: bytes in front of their IP header (14 on Ethernet, 0 on L3 devices).
    bool attachDownload(quint64 netns, int ifindex, int ifbIndex, int linkHeader, QString* error);
    void detachDownload(quint64 netns, int ifindex);
    bool hasDownload(quint64 netns, int ifindex) const
    {
        return m_downloadLinks.contains({netns, ifindex});
    }

    bool setConfig(const bwc_enforce_config& config);
    bool setRule(quint32 app, const bwc_app_rule& rule);
    bool removeRule(quint32 app);
    // Makes the LAN map hold exactly these prefixes (new ones first, so
    // that a prefix that stays is never missing).
    void setLanPrefixes(const QList<bwc_lan_key>& prefixes);

private:
    void detachAll();

    enforcement_bpf* m_skeleton = nullptr;
    QList<int> m_cgroupLinks;
    QHash<QPair<quint64, int>, int> m_downloadLinks; // (netns cookie, device index) -> link fd
    QList<bwc_lan_key> m_lanPrefixes;
};
