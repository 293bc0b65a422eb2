#include "linuxbackend.h"

#include "appidentity.h"
#include "bwcshared.h"
#include "capabilities.h"
#include "cgroupfs.h"
#include "descriptioncache.h"
#include "devicemonitor.h"
#include "interpreterscan.h"
#include "pathtext.h"
#include "processdescriber.h"
#include "socketregistry.h"
#include "trafficenforcer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <csignal>

namespace {

quint32 perSecond(quint64 bytes, qint64 elapsedMs)
{
    if (elapsedMs <= 0)
        return 0;
    return quint32(std::min<quint64>(bytes * 1000 / quint64(elapsedMs), 0xFFFFFFFFu));
}

// What a counter gained since it was last read. A counter that went
// backwards was deleted and made anew.
AppAccounting::Bytes bytesSince(const TrafficMonitor::Counts& now,
                                const TrafficMonitor::Counts& before)
{
    const auto gain = [](quint64 now, quint64 before) {
        return now >= before ? now - before : now;
    };
    return {gain(now.txBytes, before.txBytes), gain(now.rxBytes, before.rxBytes),
            gain(now.localTxBytes, before.localTxBytes),
            gain(now.localRxBytes, before.localRxBytes)};
}

bool alive(quint32 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

LinuxBackend::LinuxBackend(const Options& options, QObject* parent)
    : Backend(parent), m_options(options)
{
    ProcessDescriber::Options describing;
    describing.indexLifetimeMs =
        std::min(describing.indexLifetimeMs, qint64(options.descriptionLifetimeMs));
    DescriptionCache::Options caching;
    caching.lifetimeMs = options.descriptionLifetimeMs;
    m_descriptions.reset(new DescriptionCache(
        [describing] {
            auto describer = std::make_shared<ProcessDescriber>(describing);
            return [describer](const QString& path) { return describer->describe(path); };
        },
        caching));
    connect(m_descriptions.data(), &DescriptionCache::described, this, &LinuxBackend::onDescribed);
    m_reader.reset(new ProcessReader(options.readArguments));
    connect(m_reader.data(), &ProcessReader::named, this, &LinuxBackend::onProcessRead);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LinuxBackend::poll);
    connect(&m_monitor, &TrafficMonitor::processEvent, this, &LinuxBackend::onProcessEvent);
    connect(&m_monitor, &TrafficMonitor::processNamed, this, &LinuxBackend::onProcessNamed);
}

LinuxBackend::~LinuxBackend()
{
    // The trees and devices go first, then the programs that feed them.
    m_enforcer.reset();
    m_monitor.stop();
}

QString LinuxBackend::idFor(const QString& path)
{
    const QByteArray digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.left(8).toHex());
}

bool LinuxBackend::start(QString* error)
{
    const QStringList missing = Capabilities::missing();
    if (!missing.isEmpty()) {
        *error = QStringLiteral("needs root (missing %1); run it with sudo")
                     .arg(missing.join(QLatin1String(", ")));
        return false;
    }
    if (!QFileInfo::exists(QStringLiteral("/sys/kernel/btf/vmlinux"))) {
        *error = QStringLiteral("needs a kernel that describes its types "
                                "(/sys/kernel/btf/vmlinux, CONFIG_DEBUG_INFO_BTF)");
        return false;
    }
    const QString mount = CgroupFs::mountPoint();
    if (mount.isEmpty()) {
        *error = QStringLiteral("needs the unified cgroup hierarchy (cgroup v2), and none is "
                                "mounted");
        return false;
    }
    const QString dir =
        QDir::cleanPath(m_options.cgroup.isEmpty() ? mount : QDir(m_options.cgroup).absolutePath());
    if (dir != mount && !dir.startsWith(mount + QLatin1Char('/'))) {
        *error = QStringLiteral("cannot use %1: it is not a cgroup of the v2 hierarchy at %2")
                     .arg(dir, mount);
        return false;
    }
    m_scope = dir.mid(mount.size());
    if (m_scope.isEmpty())
        m_scope = QStringLiteral("/");
    // The first interval holds what the counters see from the moment they exist.
    m_clock.start();
    m_accounting.begin(m_clock.elapsed());
    if (!m_monitor.start(dir, error))
        return false;
    m_registry.reset(
        new SocketRegistry(m_monitor.sockTagsFd(), m_monitor.tgidAppsFd(), m_monitor.exeAppsFd()));
    learnInterpreters();
    learnRuledApplications();

    // Rules hold from a socket's first packet: the enforcement programs read
    // the tags the monitor writes.
    TrafficEnforcer::Options enforcement;
    enforcement.tagMapFd = m_monitor.sockTagsFd();
    enforcement.processMapFd = m_monitor.tgidAppsFd();
    enforcement.cgroup = dir;
    enforcement.netns = m_options.deviceNetns;
    enforcement.wholeMachine = m_scope == QLatin1String("/");
    m_enforcer.reset(new TrafficEnforcer);
    if (!m_enforcer->start(enforcement, error)) {
        m_enforcer.reset();
        m_registry.reset();
        m_monitor.stop();
        return false;
    }

    m_devices.reset(new DeviceMonitor(m_options.deviceNetns));
    if (!m_devices->start(error)) {
        m_enforcer.reset();
        m_registry.reset();
        m_monitor.stop();
        return false;
    }
    // Devices that come get the shaping trees before anyone hears of them.
    connect(m_devices.data(), &DeviceMonitor::changed, this, [this] {
        m_enforcer->syncDevices();
        emit devicesChanged();
    });
    connect(m_devices.data(), &DeviceMonitor::addressesChanged, this,
            [this] { m_enforcer->syncDevices(); });

    scanProcesses();
    poll();
    m_timer.start(std::max(m_options.intervalMs, 10));
    return true;
}

bool LinuxBackend::inScope(quint32 pid) const
{
    return m_scope == QLatin1String("/") || CgroupFs::isWithin(CgroupFs::cgroupOf(pid), m_scope);
}

void LinuxBackend::scanProcesses()
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : entries) {
        bool ok = false;
        const quint32 pid = name.toUInt(&ok);
        if (ok && inScope(pid))
            learnProcess(pid, true, false);
    }
}

void LinuxBackend::learnInterpreters()
{
    for (const QString& path : InterpreterScan::find())
        m_registry->setExecutable(path, m_registry->numbering().find(path), true);
}

void LinuxBackend::learnRuledApplications()
{
    if (!m_registry)
        return;
    m_ruled.clear();
    const QMap<QString, QString> paths = m_policy.paths();
    for (auto it = paths.constBegin(); it != paths.constEnd(); ++it) {
        const bool known = m_registry->numbering().find(*it) != BWC_APP_UNKNOWN;
        const quint32 number = m_registry->numbering().numberFor(*it);
        if (number == BWC_APP_UNKNOWN)
            continue;
        m_ruled.insert(number, it.key());
        if (!known)
            m_registry->setExecutable(*it, number, AppIdentity::isInterpreter(*it));
    }
}

void LinuxBackend::learnProcess(quint32 tgid, bool retag, bool madeSocket, quint32 origin)
{
    if (!madeSocket && !SocketRegistry::holdsSockets(tgid)) {
        // Nobody's instance yet; its first socket will announce it.
        return;
    }
    const quint32 number = numberProcess(tgid, origin ? origin : tgid);
    if (number == BWC_APP_UNKNOWN) {
        if (m_reader->isReading(tgid)) {
            Deferred& deferred = m_deferred[tgid];
            deferred.retag |= retag;
            deferred.madeSocket |= madeSocket;
            deferred.origin = origin;
            // Sockets it held before bwcd started are counted from now on, apart
            // from the unattributed, until it is named.
            if (retag)
                m_registry->tagUntaggedSocketsOf(tgid, BWC_APP_UNKNOWN);
        }
        return; // gone already: what it sent stays unattributed
    }
    adoptProcess(tgid, number, retag, madeSocket);
}

void LinuxBackend::onProcessRead(quint32 tgid, const Named& named)
{
    // Unless the kernel has told of a later exec meanwhile.
    if (!m_named.contains(tgid))
        takeName(tgid, named);
    const auto waiting = m_deferred.constFind(tgid);
    if (waiting == m_deferred.constEnd())
        return; // nothing waited: its sockets, when it makes some, find the name
    const Deferred deferred = *waiting;
    m_deferred.erase(waiting);
    if (m_instances.contains(tgid))
        return;
    if (alive(tgid)) {
        learnProcess(tgid, deferred.retag, deferred.madeSocket, deferred.origin);
        return;
    }
    // Gone meanwhile: what it sent is still its program's.
    const quint32 number = numberProcess(tgid, tgid);
    if (number != BWC_APP_UNKNOWN)
        m_resolved.insert(tgid, number);
}

void LinuxBackend::adoptProcess(quint32 tgid, quint32 number, bool retag, bool madeSocket)
{
    m_resolved.insert(tgid, number);
    const int tagged = retag ? m_registry->tagSocketsOf(tgid, number) : 0;
    if (madeSocket || tagged > 0) {
        m_registry->setProcessApp(tgid, number);
        addInstance(tgid, number);
    } else {
        m_registry->nameProcess(tgid, number); // its sockets were not IPv4 or IPv6
    }
}

quint32 LinuxBackend::numberProcess(quint32 tgid, quint32 origin)
{
    Named named = m_named.value(tgid);
    if (named.path.isEmpty())
        named = m_named.value(origin);
    if (named.path.isEmpty() && m_reader->name(tgid, &named) != ProcessReader::Known)
        return BWC_APP_UNKNOWN; // gone, or its arguments are being read
    AppNumbering& numbering = m_registry->numbering();
    const bool known = numbering.find(named.path) != BWC_APP_UNKNOWN;
    const quint32 number = numbering.numberFor(named.path);
    // Its next processes are known from their exec on.
    if (number != BWC_APP_UNKNOWN && !known && named.byExecutable)
        m_registry->setExecutable(named.dev, named.ino, number, false);
    return number;
}

void LinuxBackend::onProcessNamed(const ExecRecord& record)
{
    const QString exe = PathText::fromBytes(record.exe);
    // An interpreter the scan did not find: its next processes' scripts are
    // looked at too.
    if (AppIdentity::isInterpreter(exe) && !record.interpreter)
        m_registry->setExecutable(record.dev, record.ino, m_registry->numbering().find(exe), true);
    // What the process ran before this exec no longer names its bytes.
    if (record.atExec)
        m_resolved.remove(record.tgid);
    // Nor its name: a script is looked at on the reader's worker, and the
    // name follows.
    m_named.remove(record.tgid);
    Named named;
    if (m_reader->name(record, &named) == ProcessReader::Known)
        takeName(record.tgid, named);
}

void LinuxBackend::takeName(quint32 tgid, const Named& named)
{
    // A process of an application known already is named at once (a
    // script, a program known by another file), before its first packet
    // where user space is quick enough.
    const quint32 number = m_registry->numbering().find(named.path);
    if (number != BWC_APP_UNKNOWN) {
        m_registry->nameProcess(tgid, number);
        m_resolved.insert(tgid, number);
        if (named.byExecutable)
            m_registry->setExecutable(named.dev, named.ino, number, false);
    }
    // Bounded: processes that ended without sockets are swept from time to time.
    if (m_named.size() >= 16384)
        forgetEndedProcesses();
    m_named.insert(tgid, named);
}

void LinuxBackend::onProcessEvent(int kind, quint32 tgid, quint32 parent, quint32 app)
{
    // Told before its application was forgotten: the process is named anew.
    if (app != BWC_APP_UNKNOWN && m_registry->numbering().pathOf(app).isNull())
        app = BWC_APP_UNKNOWN;
    switch (kind) {
    case BWC_EVENT_SOCKET:
        if (m_instances.contains(tgid))
            break;
        if (app != BWC_APP_UNKNOWN) {
            adoptProcess(tgid, app, false, true);
        } else {
            if (parent != tgid)
                m_origins.insert(tgid, parent);
            learnProcess(tgid, false, true, parent);
        }
        break;
    case BWC_EVENT_EXEC:
        removeInstance(tgid);
        if (app != BWC_APP_UNKNOWN)
            adoptProcess(tgid, app, true, false);
        else
            learnProcess(tgid, true, false);
        break;
    case BWC_EVENT_FORK:
        // A child that keeps its parent's sockets is an instance too, and
        // stays one when the parent ends (as a program that goes to the
        // background does); the bytes stay counted where the sockets were made.
        // One that ran another program since is named by its exec's event,
        // which follows: tagging its sockets with the parent's application
        // now would charge that program's first bytes to the parent.
        if (!m_instances.contains(tgid) && !m_registry->ranItsOwnProgram(tgid) &&
            SocketRegistry::inetSocketsOf(tgid) > 0) {
            const quint32 number = app != BWC_APP_UNKNOWN ? app : numberProcess(tgid, parent);
            if (number == BWC_APP_UNKNOWN && m_reader->isReading(tgid))
                m_deferred[tgid].retag = true;
            if (number != BWC_APP_UNKNOWN) {
                m_resolved.insert(tgid, number);
                // Until it runs another program the child is what its
                // parent was, which may have ended before we knew it.
                if (!m_resolved.contains(parent))
                    m_resolved.insert(parent, number);
                m_registry->tagUntaggedSocketsOf(tgid, number);
                m_registry->setProcessApp(tgid, number);
                addInstance(tgid, number);
            }
        }
        break;
    case BWC_EVENT_EXIT:
        removeInstance(tgid);
        break;
    default:
        break;
    }
}

LinuxBackend::AppRecord* LinuxBackend::recordFor(quint32 number)
{
    const auto it = m_byNumber.constFind(number);
    if (it != m_byNumber.constEnd())
        return &m_apps[*it];
    const QString path = m_registry->numbering().pathOf(number);
    if (path.isEmpty())
        return nullptr;
    AppRecord record;
    record.path = path;
    record.id = idFor(path);
    record.number = number;
    record.lastActive = m_clock.elapsed();
    m_apps.append(record);
    m_byId.insert(record.id, int(m_apps.size()) - 1);
    m_byNumber.insert(number, int(m_apps.size()) - 1);
    return &m_apps.last();
}

LinuxBackend::AppRecord* LinuxBackend::unattributed()
{
    const auto it = m_byId.constFind(unattributedId());
    if (it != m_byId.constEnd())
        return &m_apps[*it];
    AppRecord record;
    record.id = unattributedId();
    record.path = unattributedPath();
    record.pids = {0};
    m_apps.append(record);
    m_byId.insert(record.id, int(m_apps.size()) - 1);
    m_accounting.setRunning(record.id, true);
    emit applicationStarted(record.id);
    return &m_apps.last();
}

void LinuxBackend::addInstance(quint32 tgid, quint32 number)
{
    AppRecord* record = recordFor(number);
    if (!record)
        return;
    m_instances.insert(tgid, Instance{number});
    if (record->pids.contains(tgid))
        return;
    record->pids.append(tgid);
    if (record->pids.size() == 1) {
        m_accounting.setRunning(record->id, true);
        enforce(); // its own class, not the defaults' shared one
    }
    emit applicationStarted(record->id);
}

void LinuxBackend::removeInstance(quint32 tgid)
{
    const auto it = m_instances.constFind(tgid);
    if (it == m_instances.constEnd())
        return;
    const quint32 number = it->app;
    m_instances.erase(it);
    AppRecord* record = recordFor(number);
    if (!record || !record->pids.removeOne(tgid))
        return;
    if (record->pids.isEmpty()) {
        // Announced as stopped once the interval in which it ended is reported.
        m_accounting.setRunning(record->id, false);
        record->lastActive = m_clock.elapsed();
    } else {
        emit applicationStarted(record->id);
    }
}

void LinuxBackend::poll()
{
    if (!m_registry)
        return;
    // Every process that counters name is heard of first.
    m_monitor.drain();
    // Instances whose end the kernel's event did not reach us for.
    const QList<quint32> tgids = m_instances.keys();
    for (quint32 tgid : tgids) {
        if (!alive(tgid))
            removeInstance(tgid);
    }

    if (m_enforcer)
        m_enforcer->followContainers();

    const QHash<quint64, TrafficMonitor::Counts> counts = m_monitor.read();
    QHash<quint64, TrafficMonitor::Counts> kept;
    kept.reserve(counts.size());
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it) {
        const AppAccounting::Bytes bytes = bytesSince(*it, m_last.value(it.key()));
        const quint32 tgid = TrafficMonitor::tgidOf(it.key());
        quint32 number = TrafficMonitor::appOf(it.key());
        if (number == BWC_APP_UNKNOWN && tgid != 0) {
            // Named by what it ran, even when it ended before anyone looked
            // (or its announcement was lost when the event ring was full).
            const quint32 origin = m_origins.value(tgid, tgid);
            if (!m_resolved.contains(tgid) &&
                (m_named.contains(tgid) || m_named.contains(origin) || alive(tgid))) {
                const quint32 named = numberProcess(tgid, origin);
                if (named != BWC_APP_UNKNOWN && alive(tgid))
                    adoptProcess(tgid, named, false, true);
                else if (named != BWC_APP_UNKNOWN)
                    m_resolved.insert(tgid, named);
            }
            number = m_resolved.value(tgid);
            if (number == BWC_APP_UNKNOWN && m_reader->isReading(tgid)) {
                // Its bytes wait for its name, which comes within a second.
                const auto last = m_last.constFind(it.key());
                if (last != m_last.constEnd())
                    kept.insert(it.key(), *last);
                continue;
            }
        }
        if (!bytes.isZero()) {
            AppRecord* record = number ? recordFor(number) : unattributed();
            if (!record)
                record = unattributed();
            record->lastActive = m_clock.elapsed();
            m_accounting.add(record->id, bytes);
            const auto instance = m_instances.find(tgid);
            if (instance != m_instances.end() && instance->app == record->number) {
                instance->intervalSent += bytes.sent;
                instance->intervalReceived += bytes.received;
            }
        } else if (tgid != 0 && !m_instances.contains(tgid) && !alive(tgid)) {
            // The process is gone and its sockets fell silent.
            m_monitor.forget(it.key());
            m_resolved.remove(tgid);
            continue;
        }
        kept.insert(it.key(), *it);
    }
    m_last = kept;
    if (++m_polls % 60 == 0)
        forgetEndedProcesses();
    forgetQuietApplications();

    const QStringList over = m_accounting.close(m_clock.elapsed());
    const qint64 elapsed = m_accounting.intervalMs();
    for (Instance& instance : m_instances) {
        instance.sent = perSecond(instance.intervalSent, elapsed);
        instance.received = perSecond(instance.intervalReceived, elapsed);
        instance.intervalSent = instance.intervalReceived = 0;
    }
    for (const QString& id : over)
        emit applicationStopped(id);
    emit ratesUpdated();
}

void LinuxBackend::forgetEndedProcesses()
{
    QSet<quint32> counted;
    for (auto it = m_last.constBegin(); it != m_last.constEnd(); ++it)
        counted.insert(TrafficMonitor::tgidOf(it.key()));
    for (auto it = m_resolved.begin(); it != m_resolved.end();) {
        if (!counted.contains(it.key()) && !m_instances.contains(it.key()) && !alive(it.key()))
            it = m_resolved.erase(it);
        else
            ++it;
    }
    for (auto it = m_origins.begin(); it != m_origins.end();) {
        if (!counted.contains(it.key()) && !alive(it.key()))
            it = m_origins.erase(it);
        else
            ++it;
    }
    QSet<quint32> origins;
    for (quint32 origin : std::as_const(m_origins))
        origins.insert(origin);
    for (auto it = m_named.begin(); it != m_named.end();) {
        if (!counted.contains(it.key()) && !origins.contains(it.key()) && !alive(it.key()))
            it = m_named.erase(it);
        else
            ++it;
    }
}

void LinuxBackend::forgetQuietApplications()
{
    const qint64 now = m_clock.elapsed();
    QList<int> quiet; // indexes of stopped applications that may be forgotten
    for (int i = 0; i < m_apps.size(); ++i) {
        const AppRecord& record = m_apps[i];
        if (record.pids.isEmpty() && record.number != BWC_APP_UNKNOWN &&
            !m_accounting.isReported(record.id) && !m_policy.hasOwnSettings(record.id) &&
            now - record.lastActive >= m_options.quietMs)
            quiet.append(i);
    }
    // The longest quiet first; beyond maxStopped they go before their time.
    std::sort(quiet.begin(), quiet.end(),
              [this](int a, int b) { return m_apps[a].lastActive < m_apps[b].lastActive; });
    QSet<int> gone;
    for (int k = 0; k < quiet.size(); ++k) {
        const AppRecord& record = m_apps[quiet[k]];
        if (now - record.lastActive >= m_options.forgetAfterMs ||
            quiet.size() - k > m_options.maxStopped)
            gone.insert(quiet[k]);
    }
    if (gone.isEmpty())
        return;
    QList<AppRecord> kept;
    kept.reserve(m_apps.size() - gone.size());
    for (int i = 0; i < m_apps.size(); ++i) {
        if (gone.contains(i))
            forgetApplication(m_apps[i]);
        else
            kept.append(m_apps[i]);
    }
    m_apps = kept;
    reindex();
}

void LinuxBackend::forgetApplication(const AppRecord& record)
{
    // Its number is never handed out again: a socket that still carries it
    // (an orphaned connection draining, a descriptor passed on) is nobody's.
    m_registry->forgetApplication(record.number);
    m_registry->numbering().release(record.number);
    m_accounting.forget(record.id);
    for (auto it = m_resolved.begin(); it != m_resolved.end();) {
        if (*it == record.number)
            it = m_resolved.erase(it);
        else
            ++it;
    }
    m_descriptions->forget(record.path);
}

void LinuxBackend::reindex()
{
    m_byId.clear();
    m_byNumber.clear();
    for (int i = 0; i < m_apps.size(); ++i) {
        m_byId.insert(m_apps[i].id, i);
        if (m_apps[i].number != BWC_APP_UNKNOWN)
            m_byNumber.insert(m_apps[i].number, i);
    }
}

QList<Backend::App> LinuxBackend::applications() const
{
    QList<App> list;
    list.reserve(m_apps.size());
    for (const AppRecord& record : m_apps)
        list.append(App{record.id, record.path, qint32(record.number), record.pids});
    return list;
}

bool LinuxBackend::application(const QString& id, App* out) const
{
    const auto it = m_byId.constFind(id);
    if (it == m_byId.constEnd())
        return false;
    const AppRecord& record = m_apps[*it];
    *out = App{record.id, record.path, qint32(record.number), record.pids};
    return true;
}

QString LinuxBackend::idForPath(const QString& path) const
{
    // Linux paths differ by case; an exact match wins over one that does not.
    const auto exact = m_byId.constFind(idFor(path));
    if (exact != m_byId.constEnd())
        return m_apps[*exact].id;
    for (const AppRecord& record : m_apps) {
        if (record.path.compare(path, Qt::CaseInsensitive) == 0)
            return record.id;
    }
    return QString();
}

bool LinuxBackend::processInfo(const QString& path, Process* out) const
{
    if (path == unattributedPath()) {
        *out = ProcessDescriber::describeUnattributed(path);
        return true;
    }
    const QString id = idForPath(path);
    if (id.isEmpty())
        return false;
    // The application's own path: the one asked for may differ in case.
    *out = m_descriptions->describe(m_apps[m_byId.value(id)].path);
    return true;
}

void LinuxBackend::onDescribed(const QString& path)
{
    const auto it = m_byId.constFind(idFor(path));
    if (it != m_byId.constEnd() && !m_apps[*it].pids.isEmpty())
        emit applicationStarted(m_apps[*it].id);
}

QString LinuxBackend::displayName(const QString& path) const
{
    Process process;
    return processInfo(path, &process) ? process.description : QString();
}

QList<DeviceInfoPtr> LinuxBackend::devices() const
{
    return m_devices ? m_devices->devices() : QList<DeviceInfoPtr>();
}

void LinuxBackend::setPolicy(const ShapingPolicy& policy)
{
    m_policy = policy;
    learnRuledApplications();
    enforce();
}

void LinuxBackend::enforce()
{
    if (!m_enforcer)
        return;
    const ShapingPolicy::Rule defaults = m_policy.ruleFor(QString());
    auto differs = [&defaults](const ShapingPolicy::Rule& rule) {
        return rule.uploadCap != defaults.uploadCap || rule.downloadCap != defaults.downloadCap ||
               rule.weight != defaults.weight || rule.blocked != defaults.blocked;
    };
    QMap<quint32, QString> apps;
    for (const AppRecord& app : std::as_const(m_apps)) {
        if (app.number != BWC_APP_UNKNOWN &&
            (!app.pids.isEmpty() || differs(m_policy.ruleFor(app.id))))
            apps.insert(app.number, app.id);
    }
    // Applications not seen yet hold their rules from their first socket.
    for (auto it = m_ruled.constBegin(); it != m_ruled.constEnd(); ++it) {
        if (differs(m_policy.ruleFor(*it)))
            apps.insert(it.key(), *it);
    }
    m_enforcer->apply(m_policy, apps);
}

QList<Backend::Rate> LinuxBackend::rates() const
{
    QList<Rate> list;
    for (const AppRecord& record : m_apps) {
        if (m_accounting.isReported(record.id)) {
            const AppAccounting::Rates rates = m_accounting.rates(record.id);
            list.append(Rate{record.id, rates.sent, rates.received});
        }
    }
    return list;
}

quint32 LinuxBackend::numberOf(const QString& id) const
{
    const auto it = m_byId.constFind(id);
    return it == m_byId.constEnd() ? 0 : m_apps[*it].number;
}

LinuxBackend::Totals LinuxBackend::totals(const QString& id) const
{
    return m_accounting.total(id);
}

QList<LinuxBackend::InstanceRate> LinuxBackend::instanceRates(const QString& id) const
{
    QList<InstanceRate> list;
    const auto it = m_byId.constFind(id);
    if (it == m_byId.constEnd())
        return list;
    for (quint32 pid : m_apps[*it].pids) {
        const Instance instance = m_instances.value(pid);
        list.append(InstanceRate{pid, instance.sent, instance.received});
    }
    return list;
}
