#include "simulatedbackend.h"

#include "appcatalog.h"
#include "iconpainter.h"
#include "rateallocator.h"
#include "trafficmodel.h"

#include <QPixmap>

SimulatedBackend::SimulatedBackend(const Options& options, QObject* parent)
    : Backend(parent), m_apps(AppCatalog::generate(options.seed, options.appCount)),
      m_rng(options.seed ^ 0x5eedu), m_wireless(options.wireless)
{
    for (int i = 0; i < m_apps.size(); ++i) {
        m_byId.insert(m_apps[i].id, i);
        m_byPath.insert(m_apps[i].path.toLower(), i);
        for (quint32 pid : std::as_const(m_apps[i].pids))
            m_nextPid = std::max(m_nextPid, pid + 4);
    }
    for (SimulatedApp& app : m_apps) {
        TrafficModel::stepDemand(app, m_rng);
        m_accounting.setRunning(app.id, !app.pids.isEmpty());
    }
    m_accounting.begin(0);
    share();
}

QList<Backend::App> SimulatedBackend::applications() const
{
    QList<App> list;
    list.reserve(m_apps.size());
    for (const SimulatedApp& app : m_apps)
        list.append(App{app.id, app.path, app.gid, app.pids});
    return list;
}

bool SimulatedBackend::application(const QString& id, App* out) const
{
    const auto it = m_byId.constFind(id);
    if (it == m_byId.constEnd())
        return false;
    const SimulatedApp& app = m_apps[*it];
    *out = App{app.id, app.path, app.gid, app.pids};
    return true;
}

QString SimulatedBackend::idForPath(const QString& path) const
{
    const auto it = m_byPath.constFind(path.toLower());
    return it == m_byPath.constEnd() ? QString() : m_apps[*it].id;
}

bool SimulatedBackend::processInfo(const QString& path, Process* out) const
{
    const auto it = m_byPath.constFind(path.toLower());
    if (it == m_byPath.constEnd())
        return false;
    const SimulatedApp& app = m_apps[*it];
    const QString exe = app.path.mid(app.path.lastIndexOf(QLatin1Char('\\')) + 1);
    Process process;
    process.filePath = app.path;
    process.productVersion = app.version.section(QLatin1Char('.'), 0, 2);
    process.fileVersion = app.version;
    process.description = app.name;
    process.company = app.company;
    process.internalName = exe.section(QLatin1Char('.'), 0, 0);
    process.originalFilename = exe;
    process.copyright = QStringLiteral("Copyright (C) 2010 ") + app.company;
    process.productName = app.name;
    process.fileSize = app.fileSize;
    auto icon = m_icons.find(*it);
    if (icon == m_icons.end())
        icon = m_icons.insert(*it, IconPainter::paint(app.name, app.colour));
    process.icon = QPixmap::fromImage(*icon);
    *out = process;
    return true;
}

QString SimulatedBackend::displayName(const QString& path) const
{
    const auto it = m_byPath.constFind(path.toLower());
    return it == m_byPath.constEnd() ? QString() : m_apps[*it].name;
}

QList<DeviceInfoPtr> SimulatedBackend::devices() const
{
    const auto make = [](quint32 number, qint32 code, const char* name, const char* port) {
        DeviceInfoPtr device(new DeviceInfo);
        device->number = number;
        device->deviceId = quint32(code);
        device->textA = QLatin1String(name);
        device->textB = QLatin1String(port);
        device->flags = {true};
        return device;
    };
    QList<DeviceInfoPtr> list{make(1, -254, "Simulated Ethernet Adapter", "eth0")};
    if (m_wireless)
        list.append(make(2, -253, "Simulated Wireless Adapter", "wlan0"));
    return list;
}

void SimulatedBackend::setPolicy(const ShapingPolicy& policy)
{
    m_policy = policy;
    share();
}

QList<Backend::Rate> SimulatedBackend::rates() const
{
    QList<Rate> list;
    for (const SimulatedApp& app : m_apps) {
        if (!app.pids.isEmpty())
            list.append(Rate{app.id, app.sent, app.received});
    }
    return list;
}

void SimulatedBackend::advance(int milliseconds)
{
    m_pendingMs += std::max(milliseconds, 0);
    while (m_pendingMs >= 1000) {
        m_pendingMs -= 1000;
        step();
    }
}

void SimulatedBackend::setWirelessPresent(bool present)
{
    if (present == m_wireless)
        return;
    m_wireless = present;
    emit devicesChanged();
}

void SimulatedBackend::script(const QString& id, int instances, quint32 wantedUp,
                              quint32 wantedDown)
{
    SimulatedApp* app = find(id);
    if (!app)
        return;
    const bool wasRunning = !app->pids.isEmpty();
    const int before = int(app->pids.size());
    app->scripted = true;
    while (app->pids.size() > std::max(instances, 0))
        app->pids.removeLast();
    while (app->pids.size() < instances) {
        app->pids.append(m_nextPid);
        m_nextPid += 4;
    }
    app->wantedUp = instances > 0 ? wantedUp : 0;
    app->wantedDown = instances > 0 ? wantedDown : 0;
    share();
    if (wasRunning && instances <= 0)
        emit applicationStopped(id);
    else if (instances > 0 && instances != before)
        emit applicationStarted(id);
}

void SimulatedBackend::account()
{
    for (const SimulatedApp& app : std::as_const(m_apps)) {
        if (!app.pids.isEmpty())
            m_accounting.add(app.id, {app.sent, app.received, 0, 0});
    }
    m_accounting.close(m_elapsedMs);
    for (const SimulatedApp& app : std::as_const(m_apps))
        m_accounting.setRunning(app.id, !app.pids.isEmpty());
}

void SimulatedBackend::step()
{
    // The second that ends moved what its rates say.
    m_elapsedMs += 1000;
    account();
    QStringList started, stopped;
    for (SimulatedApp& app : m_apps) {
        switch (TrafficModel::stepLife(app, m_rng, &m_nextPid)) {
        case TrafficModel::Change::Started:
        case TrafficModel::Change::InstancesChanged:
            started.append(app.id);
            break;
        case TrafficModel::Change::Stopped:
            stopped.append(app.id);
            break;
        case TrafficModel::Change::None:
            break;
        }
        TrafficModel::stepDemand(app, m_rng);
    }
    share();
    for (const QString& id : std::as_const(stopped))
        emit applicationStopped(id);
    for (const QString& id : std::as_const(started))
        emit applicationStarted(id);
}

void SimulatedBackend::share()
{
    // Each direction of the link is shared on its own: the tighter of the
    // link and the global maximum is the capacity, the rules give the caps
    // and weights.
    QList<RateAllocator::Flow> up, down;
    QList<int> running;
    for (int i = 0; i < m_apps.size(); ++i) {
        SimulatedApp& app = m_apps[i];
        if (app.pids.isEmpty()) {
            app.sent = app.received = 0;
            continue;
        }
        const ShapingPolicy::Rule rule = m_policy.ruleFor(app.id);
        running.append(i);
        up.append({app.wantedUp, rule.uploadCap, rule.weight});
        down.append({app.wantedDown, rule.downloadCap, rule.weight});
    }
    const auto capacity = [](qint64 link, qint64 global) {
        return global < 0 ? link : std::min(link, global);
    };
    const QList<quint32> sent =
        RateAllocator::allocate(up, capacity(LinkUpload, m_policy.globalUpload()));
    const QList<quint32> received =
        RateAllocator::allocate(down, capacity(LinkDownload, m_policy.globalDownload()));
    for (int k = 0; k < running.size(); ++k) {
        m_apps[running[k]].sent = sent[k];
        m_apps[running[k]].received = received[k];
    }
}

SimulatedApp* SimulatedBackend::find(const QString& id)
{
    const auto it = m_byId.constFind(id);
    return it == m_byId.constEnd() ? nullptr : &m_apps[*it];
}
