#pragma once

#include "backend.h"
#include "execrecord.h"
#include "processreader.h"
#include "shapingpolicy.h"
#include "trafficmonitor.h"

#include <QElapsedTimer>
#include <QHash>
#include <QScopedPointer>
#include <QTimer>

class DeviceMonitor;
class TrafficEnforcer;
class DescriptionCache;
class SocketRegistry;

// The real machine: every program that uses the network, found by the
// sockets its processes make (or held when bwcd started), one application
// per executable (per script or jar for interpreted programs), with the
// bytes that went through those sockets as the kernel counted them, over
// TCP and UDP, IPv4 and IPv6, in any network namespace. Traffic on the
// loopback device does not leave the machine: it is counted as each
// application's local traffic, never as its network traffic. What no
// application can be found for is reported as one application of its own,
// unattributedId(). Devices are the network devices of bwcd's namespace.
class LinuxBackend final : public Backend
{
    Q_OBJECT
public:
    struct Options
    {
        QString cgroup;        // cgroup directory to watch; empty: the whole machine
        QString deviceNetns;   // network namespace file whose devices to list; empty: ours
        int intervalMs = 1000; // how often the counters are read
        // A program's description is made again when asked for after this long.
        int descriptionLifetimeMs = 60000;
        // A stopped application without settings of its own leaves the table
        // once it has been quiet this long, or after quietMs while more than
        // maxStopped such applications are listed.
        int forgetAfterMs = 10 * 60 * 1000;
        int maxStopped = 256;
        int quietMs = 3000;
        // How an interpreter's arguments are read from a process that was
        // not seen starting; empty: from /proc.
        ProcessReader::ReadArguments readArguments = nullptr;
    };
    using Totals = AppAccounting::Bytes; // since bwcd started
    struct InstanceRate
    {
        quint32 pid = 0;
        quint32 sent = 0; // bytes per second
        quint32 received = 0;
    };

    explicit LinuxBackend(const Options& options, QObject* parent = nullptr);
    ~LinuxBackend() override;

    // Checks privileges and kernel features, loads and attaches the
    // programs and learns the processes that already have sockets. On
    // failure gives false with a sentence naming what is missing.
    bool start(QString* error);
    // Reads the counters now (also done every interval).
    void poll();

    QList<App> applications() const override;
    bool application(const QString& id, App* out) const override;
    QString idForPath(const QString& path) const override;
    bool processInfo(const QString& path, Process* out) const override;
    QString displayName(const QString& path) const override;
    QList<DeviceInfoPtr> devices() const override;
    void setPolicy(const ShapingPolicy& policy) override;
    QList<Rate> rates() const override;

    Totals totals(const QString& id) const;
    QList<InstanceRate> instanceRates(const QString& id) const;
    // The socket tags and application numbers, for the shaper; null until
    // started. numberOf() is the number in the tags of an application's
    // sockets (0 for unattributed traffic or an unknown id).
    SocketRegistry* registry() const { return m_registry.data(); }
    quint32 numberOf(const QString& id) const;

    static QString unattributedId() { return QStringLiteral("unattributed"); }
    static QString unattributedPath() { return QStringLiteral("[unattributed traffic]"); }
    // The stable id of an application path.
    static QString idFor(const QString& path);

signals:
    // The counters were read and the rates are new.
    void ratesUpdated();

private:
    struct AppRecord
    {
        QString id;
        QString path;
        quint32 number = 0;
        QList<quint32> pids;
        qint64 lastActive = 0; // when it last ran or had traffic (ms of m_clock)
    };
    struct Instance
    {
        quint32 app = 0;
        quint64 intervalSent = 0;
        quint64 intervalReceived = 0;
        quint32 sent = 0;
        quint32 received = 0;
    };

    // What the kernel saw a process run, kept until the process is named or gone.
    using Named = ProcessReader::Name;
    // What to do with a process once its arguments are read.
    struct Deferred
    {
        bool retag = false;
        bool madeSocket = false;
        quint32 origin = 0;
    };

    void onProcessEvent(int kind, quint32 tgid, quint32 parent, quint32 app);
    void onProcessNamed(const ExecRecord& record);
    // A process whose script was looked at, or whose arguments were read, is named.
    void onProcessRead(quint32 tgid, const Named& named);
    // The process is known by this name from now on.
    void takeName(quint32 tgid, const Named& named);
    // The application of a process, from what the kernel said at its exec
    // or else from /proc; 0 when it cannot be told. Numbers it if it has no
    // number yet and lets the kernel know its executable from then on.
    // origin is the process whose exec the kernel named it by (itself, or
    // the parent it was forked from).
    quint32 numberProcess(quint32 tgid, quint32 origin);
    // The kernel's process map holds the application; the process is an
    // instance of it when it holds sockets (or made one).
    void adoptProcess(quint32 tgid, quint32 number, bool retag, bool madeSocket);
    // Numbers the applications that have settings of their own and tells
    // the kernel their executables, so rules hold from their first exec.
    void learnRuledApplications();
    void learnInterpreters();
    void scanProcesses();
    bool inScope(quint32 pid) const;
    // Resolves the process and, when it holds sockets or made one, makes it
    // an instance of its application. retag: tag the sockets it holds.
    void learnProcess(quint32 tgid, bool retag, bool madeSocket, quint32 origin = 0);
    void addInstance(quint32 tgid, quint32 number);
    // Hands the policy to the enforcer for the applications that may have
    // traffic: the running ones and those with rules of their own.
    void enforce();
    void removeInstance(quint32 tgid);
    AppRecord* recordFor(quint32 number);
    AppRecord* unattributed();
    // Drops what is remembered of processes that ended and left no counters.
    void forgetEndedProcesses();
    // Stopped applications that have been quiet long enough leave the table.
    void forgetQuietApplications();
    // Everything that knows an application by its number lets go of it here:
    // the number is released, the processes resolved to it and its description
    // are forgotten. The record itself is removed by the caller.
    void forgetApplication(const AppRecord& record);
    void reindex();
    // A description came in: clients that hold the plain one ask again when
    // the application is announced.
    void onDescribed(const QString& path);

    Options m_options;
    QString m_scope; // the watched cgroup relative to the hierarchy's root
    TrafficMonitor m_monitor;
    QScopedPointer<SocketRegistry> m_registry;
    QScopedPointer<DescriptionCache> m_descriptions;
    QScopedPointer<ProcessReader> m_reader;
    QScopedPointer<DeviceMonitor> m_devices;
    QScopedPointer<TrafficEnforcer> m_enforcer;
    ShapingPolicy m_policy;
    QTimer m_timer;
    QElapsedTimer m_clock;
    quint64 m_polls = 0;

    QList<AppRecord> m_apps; // in the order they were first seen
    QHash<QString, int> m_byId;
    QHash<quint32, int> m_byNumber;
    QHash<quint32, Instance> m_instances; // tgid ->
    QHash<quint32, quint32> m_resolved;   // tgid -> application number, kept after exit
    QHash<quint32, Named> m_named;        // tgid ->
    QHash<quint32, quint32> m_origins;    // tgid -> origin, for processes not named yet
    QHash<quint32, Deferred> m_deferred;  // tgid -> while its arguments are read
    QMap<quint32, QString> m_ruled;       // number -> id of applications with settings
    QHash<quint64, TrafficMonitor::Counts> m_last;
};
