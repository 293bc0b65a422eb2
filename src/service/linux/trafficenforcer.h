#pragma once

#include "enforcementplan.h"
#include "enforcementprograms.h"
#include "netlinksocket.h"

#include <QHash>
#include <QMap>
#include <QString>

#include <memory>

// Enforces the service's rules on the devices of the network namespace it
// was started in: the enforcement programs on a cgroup, and on every device
// that carries traffic an HTB tree for upload and an IFB device with the
// mirror tree for download. Changes go to the kernel in place: classes are
// changed, added and removed, never rebuilt, so a change of cap reaches
// running transfers at once.
class TrafficEnforcer
{
public:
    // Handle majors of our trees; HTB finds a leaf by skb->priority = major:minor.
    static constexpr quint16 UploadMajor = 0xB0C1;
    static constexpr quint16 DownloadMajor = 0xB0C2;

    TrafficEnforcer();
    ~TrafficEnforcer();

    struct Options
    {
        int tagMapFd = -1;        // the monitor's socket-tag map; -1: a map of our own
        int processMapFd = -1;    // the monitor's process map (tgid_apps); -1: our own
        QString cgroup;           // cgroup v2 directory whose processes are governed
        QString netns;            // network namespace file whose devices are shaped; empty: ours
        bool wholeMachine = true; // packets of sockets outside the cgroup count too
    };

    // Loads and attaches the programs and removes what an earlier run left behind.
    bool start(const Options& options, QString* error);
    // Enforces a policy for these applications (number -> id) from now on.
    void apply(const ShapingPolicy& policy, const QMap<quint32, QString>& apps);
    // Looks at the devices again: new ones get the trees, gone ones are
    // forgotten; the local network is read again.
    void syncDevices();
    // Takes every tree, device and program away.
    void stop();

    EnforcementPrograms* programs() { return &m_programs; }

private:
    struct Link
    {
        int ifindex = 0;
        QString name;
        bool ethernet = false;
        int mtu = 1500;
    };
    struct TreeState
    {
        bool installed = false;
        HtbShaper::ClassParams root;
        QMap<quint16, HtbShaper::ClassParams> leaves;
        QMap<quint16, quint32> leafCuts; // the longest packet each leaf's queue passes whole
    };
    struct Device
    {
        Link link;
        int ifbIndex = 0;
        TreeState upload;
        TreeState download;
    };

    QList<Link> shapeableLinks();
    void removeLeftovers();
    // Brings one device's trees to the plan, without removing stale leaves
    // when prune is false.
    void applyDevice(Device* device, bool prune);
    void applyTree(const Link& link, const QString& where, HtbShaper* shaper,
                   const EnforcementPlan::Tree& tree, TreeState* state, bool prune);
    void dropDownload(Device* device);
    void clearDevice(Device* device);
    void writeRules();
    void refreshLanPrefixes();

    // Puts the calling thread into the shaped namespace for its lifetime.
    class NetnsScope;

    Options m_options;
    int m_netnsFd = -1;
    int m_homeNetnsFd = -1;
    std::unique_ptr<NetlinkSocket> m_netlink;
    EnforcementPrograms m_programs;
    EnforcementPlan m_plan;
    QHash<quint32, quint16> m_minors;
    QMap<int, Device> m_devices;
    QMap<quint32, bwc_app_rule> m_writtenRules;
    // The programs' list of local prefixes matches the machine's addresses;
    // it goes stale when an address or device changes while it is not kept.
    bool m_lanPrefixesCurrent = false;
    bool m_started = false;
    bool m_downloadShaping = true; // the kernel attaches the download classifier
};
