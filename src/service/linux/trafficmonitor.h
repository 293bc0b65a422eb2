#pragma once

#include "execrecord.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QSocketNotifier;
struct bwcmon_bpf;
struct ring_buffer;

// The kernel half of the Linux backend: loads the BPF programs that tag
// sockets and count their packets, attaches them to a cgroup (every socket of
// every process below it, in every network namespace), to the exec and exit
// tracepoints and, for packet sockets, to the socket send and receive
// tracepoints, and hands user space the counters and the process events.
// Attachments are links owned by this process: they vanish when it ends,
// even by a crash.
class TrafficMonitor : public QObject
{
    Q_OBJECT
public:
    struct Counts
    {
        quint64 txBytes = 0;
        quint64 rxBytes = 0;
        quint64 txPackets = 0;
        quint64 rxPackets = 0;
        quint64 localTxBytes = 0; // on the loopback device
        quint64 localRxBytes = 0;
    };
    // A counter's key: application number in the high half, tgid in the low.
    static quint64 key(quint32 app, quint32 tgid) { return quint64(app) << 32 | tgid; }
    static quint32 appOf(quint64 key) { return quint32(key >> 32); }
    static quint32 tgidOf(quint64 key) { return quint32(key); }

    explicit TrafficMonitor(QObject* parent = nullptr);
    ~TrafficMonitor() override;

    // Loads and attaches to the cgroup directory. On failure gives false with
    // what went wrong, and leaves nothing attached.
    bool start(const QString& cgroupDir, QString* error);
    void stop();

    int sockTagsFd() const;
    int tgidAppsFd() const;
    int exeAppsFd() const;

    // Every counter, summed over the CPUs.
    QHash<quint64, Counts> read() const;
    void forget(quint64 key);

    // Detaches programs of ours that a bwcd which ended without cleaning up
    // left on the cgroup (attached the old way, without links). Gives how many.
    static int sweepLeftovers(int cgroupFd);
    // Whether a BPF program's name is one of ours.
    static bool isOurs(const char* programName);

signals:
    // kind is a bwc_event_kind; parent is set for forks; app is the
    // process's application as the kernel knows it (0: not named yet).
    void processEvent(int kind, quint32 tgid, quint32 parent, quint32 app);
    // What names a process the kernel could not name itself.
    void processNamed(const ExecRecord& record);

public:
    // Hands out the events that arrived so far (before reading counters, so
    // that every counter's process is known).
    void drain();

private:
    // Frames of packet sockets, which no cgroup program sees, counted where
    // their owners write and read them.
    bool attachPacketCounting(QString* error);
    void countRings();
    static int onRingEvent(void* context, void* data, size_t size);

    bwcmon_bpf* m_skeleton = nullptr;
    ring_buffer* m_ring = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    int m_cgroupFd = -1;
    bool m_homeOnly = true; // other namespaces' kernel traffic is left out
    int m_cpus = 1;
    struct Pending
    {
        int kind;
        quint32 tgid;
        quint32 parent;
        quint32 app;
        ExecRecord record; // for BWC_EVENT_NAME
    };
    QList<Pending> m_pending;
};
