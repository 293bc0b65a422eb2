#pragma once

#include "enforcementplan.h"
#include "enforcementprograms.h"
#include "netlinksocket.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>

#include <map>
#include <memory>

// Enforces the service's rules: the enforcement programs on a cgroup, and on
// every device that carries traffic an HTB tree for upload and an IFB device
// with the mirror tree for download. The devices are those of the service's
// own network namespace and of every other namespace that processes of the
// governed cgroup live in (containers): a socket's packets take its
// application's class in its own namespace, on the devices it sends and
// receives through, before forwarding forgets whose they were. Changes go to
// the kernel in place: classes are changed, added and removed, never
// rebuilt, so a change of cap reaches running transfers at once.
//
// A cap is one cap across devices: each device's tree (and each IFB's) has
// its own token buckets, and an HTB class cannot span two qdiscs, so once a
// second the devices a capped class is busy on share its cap by what each
// carried (see CapSharer). A program that starts to use a second device may
// move up to its cap on each for that second; after it, the sum holds. The
// global maximum stays per device: a forwarded packet passes the trees of
// two devices, and shares read from both would count it twice.
//
// Frames of packet sockets (AF_PACKET) are counted but not enforced. The
// kernel runs the cgroup connect, sendmsg and socket-buffer programs for INET
// sockets only: a packet socket's send goes from packet_snd to the device's
// queue with none of them, so nothing refuses it or drops its frames, and its
// frames carry the socket's own SO_PRIORITY (0 unless the program set it)
// instead of the class the egress program would give, so HTB puts them in
// the default class, outside the application's cap. A clsact egress program
// on each device could read the packet socket from the frame and classify or
// drop it, but not for sockets with PACKET_QDISC_BYPASS, whose frames skip
// both clsact and the qdisc. Download cannot be held at all: frames reach
// sockets bound to every protocol before the ingress program runs, and for
// the others the ingress program has no lookup that finds a packet socket
// (bpf_sk_lookup_* finds TCP and UDP sockets only).
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
        QString netns;            // the namespace taken as the service's own; empty: ours
        bool wholeMachine = true; // packets of sockets outside the cgroup count too
    };

    // Loads and attaches the programs and removes what an earlier run left behind.
    bool start(const Options& options, QString* error);
    // Enforces a policy for these applications (number -> id) from now on.
    void apply(const ShapingPolicy& policy, const QMap<quint32, QString>& apps);
    // Looks at the devices again: new ones get the trees, gone ones are
    // forgotten; the local network is read again. Namespaces that processes
    // of the cgroup have come to are followed, those they left are let go.
    void syncDevices();
    // Follows the namespaces of the cgroup's processes and their devices,
    // and shares the caps (shareCaps()), about once a second however often
    // it is called: containers start and stop without a sign to the
    // service's own namespace. Costs nothing while no rule needs a tree.
    void followContainers();
    // The network namespaces (by inode) whose devices are shaped now.
    QList<quint64> followedNamespaces() const;
    // Shares each capped class's cap among the devices it is busy on, by
    // what the trees counted since the last time.
    void shareCaps();
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
        QHash<quint16, double> shares;   // of a leaf's cap, where it is shared with other devices
        std::map<quint16, HtbShaper::ClassCount> counts; // at the last sharing
    };
    struct Device
    {
        Link link;
        int ifbIndex = 0;
        TreeState upload;
        TreeState download;
    };
    // A network namespace whose devices we shape. Its file and netlink
    // socket keep it alive: it is let go as soon as no process needs it.
    struct Space
    {
        int fd = -1;
        quint64 cookie = 0; // what the download classifier knows it by
        std::unique_ptr<NetlinkSocket> netlink;
        QMap<int, Device> devices;
    };

    // Enters a namespace for the first time (its fd is taken over); null
    // when it cannot be used.
    std::unique_ptr<Space> openSpace(int fd);
    void followNamespaces();
    // Removes what an earlier run left in the namespaces of governed
    // processes that are not followed now.
    void sweepNamespaces();
    void syncSpace(Space* space);
    void releaseSpace(Space* space);
    QList<Link> shapeableLinks(NetlinkSocket* netlink);
    void removeLeftovers(Space* space);
    // Brings one device's trees to the plan, without removing stale leaves
    // when prune is false.
    void applyDevice(Space* space, Device* device, bool prune);
    void applyTree(const Link& link, const QString& where, HtbShaper* shaper,
                   const EnforcementPlan::Tree& tree, TreeState* state, bool prune);
    // One direction's capped leaves, over the trees of every device.
    void shareDirection(bool download, double seconds, QSet<Device*>* changed);
    void dropDownload(Space* space, Device* device);
    void clearDevice(Space* space, Device* device);
    void writeRules();
    void terminateEverywhere(const QSet<quint32>& apps);
    void refreshLanPrefixes();
    bool treesNeeded() const;

    // Puts the calling thread into a namespace for its lifetime.
    class NetnsScope;

    Options m_options;
    int m_homeNetnsFd = -1; // the thread's namespace, to come back to
    quint64 m_ownInode = 0; // the service's own namespace: always shaped
    EnforcementPrograms m_programs;
    EnforcementPlan m_plan;
    QHash<quint32, quint16> m_minors;
    std::map<quint64, std::unique_ptr<Space>> m_spaces; // by namespace inode
    QMap<quint32, bwc_app_rule> m_writtenRules;
    // The programs' list of local prefixes matches the machine's addresses;
    // it goes stale when an address or device changes while it is not kept.
    bool m_lanPrefixesCurrent = false;
    QElapsedTimer m_sinceFollowed;
    QElapsedTimer m_sinceShared;
    bool m_started = false;
    bool m_downloadShaping = true; // the kernel attaches the download classifier
};
