#include "bandwidthservice.h"

#include "commands.h"
#include "replybuilder.h"
#include "shapingpolicy.h"
#include "statefile.h"

#include <QtDebug>

namespace {

// The three application-settings commands share one layout but are distinct classes.
BWCEntryPtr entryOf(BaseCommand* command)
{
    if (auto* c = command_cast<BCI_BWCGetAppSettings>(command))
        return c->entry();
    if (auto* c = command_cast<BCI_BWCSetAppSettings>(command))
        return c->entry();
    if (auto* c = command_cast<BCI_BWCRemoveAppSettings>(command))
        return c->entry();
    return BWCEntryPtr();
}

void setEntryOf(BaseCommand* command, const BWCEntryPtr& entry)
{
    if (auto* c = command_cast<BCI_BWCGetAppSettings>(command))
        c->setEntry(entry);
    else if (auto* c = command_cast<BCI_BWCSetAppSettings>(command))
        c->setEntry(entry);
    else if (auto* c = command_cast<BCI_BWCRemoveAppSettings>(command))
        c->setEntry(entry);
}

template <class Announcement> BaseCommandPtr announce(const BWCEntryPtr& entry)
{
    auto* command = new Announcement;
    command->setEntry(entry);
    return BaseCommandPtr(command);
}

} // namespace

BandwidthService::BandwidthService(Backend* backend, const ServiceState& state,
                                   const StateFile* stateFile, QObject* parent)
    : QObject(parent), m_backend(backend), m_stateFile(stateFile), m_state(state),
      m_totalsPages(backend)
{
    m_backend->setPolicy(ShapingPolicy(m_state));
    connect(m_backend, &Backend::applicationStarted, this, &BandwidthService::onApplicationStarted);
    connect(m_backend, &Backend::applicationStopped, this, &BandwidthService::onApplicationStopped);
    connect(m_backend, &Backend::devicesChanged, this, &BandwidthService::onDevicesChanged);
}

void BandwidthService::handleCommand(const BaseCommandPtr& command)
{
    if (!command)
        return;
    if (command->HasTypeBits(BWC_BROADCAST_BITS)) {
        // A notification is not a request, and an answer of a broadcast type
        // would go to every client; it is only logged.
        qWarning("BandwidthService::handleCommand(): ignoring notification %s sent by a client",
                 command->GetName());
        return;
    }
    const bool wasEnabled = m_state.enabled;
    const qint32 oldUp = m_state.globalUploadMax;
    const qint32 oldDown = m_state.globalDownloadMax;
    QList<BWCEntryPtr> overflow;
    int status = BCS_UNSUPPORTED;
    switch (command->GetType()) {
    case BCI_BWCEnumApps::TypeId:
        status = enumApps(command.data(), &overflow);
        break;
    case BCI_BWCGetAppSettings::TypeId:
    case BCI_BWCSetAppSettings::TypeId:
    case BCI_BWCRemoveAppSettings::TypeId:
        status = appSettings(command.data());
        break;
    case BCI_BWCStats::TypeId:
        status = stats(command.data());
        break;
    case BCI_GetProcessInfo::TypeId:
        status = processInfo(command.data());
        break;
    case BCI_BWCAppTotals::TypeId:
        status = appTotals(command.data());
        break;
    case BCI_BWCResetTotals::TypeId:
        m_backend->resetTotals();
        status = BCS_SUCCESS;
        break;
    case BCI_EnumDevices::TypeId:
        status = enumDevices(command.data());
        break;
    case BCI_BWCStart::TypeId:
    case BCI_BWCStop::TypeId:
    case BCI_BWCGetGlobals::TypeId:
    case BCI_BWCSetGlobals::TypeId:
    case BCI_BWCGetDefaults::TypeId:
    case BCI_BWCSetDefaults::TypeId:
    case BCI_BWCResetAll::TypeId:
        status = changeState(command.data());
        break;
    default:
        qDebug("BandwidthService::handleCommand(): %s is not supported", command->GetName());
        break;
    }
    command->SetStatus(status);
    emit commandReady(command);

    for (const BWCEntryPtr& entry : std::as_const(overflow))
        emit commandReady(announce<BCI_BWCAppAdded>(entry));
    const bool reset = command->GetType() == BCI_BWCResetAll::TypeId && status == BCS_SUCCESS;
    if (reset || wasEnabled != m_state.enabled || oldUp != m_state.globalUploadMax ||
        oldDown != m_state.globalDownloadMax) {
        broadcastGlobals();
    }
}

bool BandwidthService::changesSettings(const BaseCommand& command)
{
    switch (command.GetType()) {
    case BCI_BWCStart::TypeId:
    case BCI_BWCStop::TypeId:
    case BCI_BWCSetGlobals::TypeId:
    case BCI_BWCSetDefaults::TypeId:
    case BCI_BWCResetAll::TypeId:
    case BCI_BWCSetAppSettings::TypeId:
    case BCI_BWCRemoveAppSettings::TypeId:
    case BCI_BWCResetTotals::TypeId:
        return true;
    default:
        return false;
    }
}

void BandwidthService::refuse(BaseCommand* command)
{
    // A reply must carry a record, even when the request came without one.
    if ((command_cast<BCI_BWCSetAppSettings>(command) ||
         command_cast<BCI_BWCRemoveAppSettings>(command)) &&
        !entryOf(command))
        setEntryOf(command, BWCEntryPtr(new BWCEntry));
    command->SetStatus(BCS_UNSUPPORTED);
}

int BandwidthService::enumApps(BaseCommand* command, QList<BWCEntryPtr>* overflow)
{
    QList<BWCEntryPtr> entries;
    const QList<Backend::App> apps = m_backend->applications();
    for (const Backend::App& app : apps) {
        if (!m_state.hidden.contains(app.id))
            entries.append(entryFor(app));
    }
    // What does not fit one frame follows as announcements of added applications.
    static_cast<BCI_BWCEnumApps*>(command)->setApps(
        ReplyBuilder::takeFitting(&entries, ReplyBuilder::ListBudget));
    *overflow = entries;
    return BCS_SUCCESS;
}

int BandwidthService::appSettings(BaseCommand* command)
{
    const BWCEntryPtr asked = entryOf(command);
    Backend::App app;
    if (!resolve(asked, &app)) {
        // A reply must carry a record, even when the request came without one.
        if (!asked)
            setEntryOf(command, BWCEntryPtr(new BWCEntry));
        return BCS_INVALID;
    }
    if (command->GetType() == BCI_BWCSetAppSettings::TypeId) {
        if (!Limits::isValidAppLimit(asked->uploadMax) ||
            !Limits::isValidAppLimit(asked->downloadMax) ||
            !Limits::isValidAppPriority(asked->priority)) {
            return BCS_INVALID;
        }
        AppSettings settings;
        settings.path = app.path;
        settings.uploadMax = asked->uploadMax;
        settings.downloadMax = asked->downloadMax;
        settings.priority = asked->priority;
        settings.highest = asked->highest;
        ServiceState next = m_state;
        next.setSettings(app.id, settings);
        if (!commit(next))
            return BCS_WRITE_FAILED;
    } else if (command->GetType() == BCI_BWCRemoveAppSettings::TypeId) {
        ServiceState next = m_state;
        next.apps.remove(app.id);
        // The user hid it until it is active again; a running one stays.
        if (app.pids.isEmpty())
            next.hidden.insert(app.id);
        if (!commit(next))
            return BCS_WRITE_FAILED;
    }
    setEntryOf(command, entryFor(app));
    return BCS_SUCCESS;
}

int BandwidthService::stats(BaseCommand* command)
{
    int dropped = 0;
    static_cast<BCI_BWCStats*>(command)->setStats(
        ReplyBuilder::stats(m_backend->rates(), ReplyBuilder::ListBudget, &dropped));
    if (dropped)
        qWarning("BandwidthService::stats(): %d lines left out to keep the frame in bounds",
                 dropped);
    return BCS_SUCCESS;
}

int BandwidthService::appTotals(BaseCommand* command)
{
    m_totalsPages.fill(static_cast<BCI_BWCAppTotals*>(command), m_state);
    return BCS_SUCCESS;
}

int BandwidthService::processInfo(BaseCommand* command)
{
    auto* request = static_cast<BCI_GetProcessInfo*>(command);
    Process process;
    if (!m_backend->processInfo(request->path(), &process))
        return BCS_INVALID;
    request->setProcess(process);
    if (ReplyBuilder::frameSize(command) > qint64(BaseCommand::MaxFrameLength)) {
        process.icon = QPixmap();
        request->setProcess(process);
    }
    return BCS_SUCCESS;
}

int BandwidthService::enumDevices(BaseCommand* command)
{
    static_cast<BCI_EnumDevices*>(command)->setDevices(m_backend->devices());
    return BCS_SUCCESS;
}

int BandwidthService::changeState(BaseCommand* command)
{
    ServiceState next = m_state;
    if (auto* c = command_cast<BCI_BWCGetGlobals>(command)) {
        c->setGlobalUploadMax(m_state.globalUploadMax);
        c->setGlobalDownloadMax(m_state.globalDownloadMax);
        c->setEnabled(m_state.enabled);
        return BCS_SUCCESS;
    }
    if (auto* c = command_cast<BCI_BWCGetDefaults>(command)) {
        c->setDefaultUploadMax(m_state.defaultUploadMax);
        c->setDefaultDownloadMax(m_state.defaultDownloadMax);
        c->setDefaultPriority(m_state.defaultPriority);
        c->setLanException(m_state.lanException);
        return BCS_SUCCESS;
    }
    if (command_cast<BCI_BWCStart>(command)) {
        next.enabled = true;
    } else if (command_cast<BCI_BWCStop>(command)) {
        next.enabled = false;
    } else if (auto* c = command_cast<BCI_BWCSetGlobals>(command)) {
        if (!Limits::isValidGlobalLimit(c->globalUploadMax()) ||
            !Limits::isValidGlobalLimit(c->globalDownloadMax()))
            return BCS_INVALID;
        next.globalUploadMax = c->globalUploadMax();
        next.globalDownloadMax = c->globalDownloadMax();
    } else if (auto* c = command_cast<BCI_BWCSetDefaults>(command)) {
        if (!Limits::isValidDefaultLimit(c->defaultUploadMax()) ||
            !Limits::isValidDefaultLimit(c->defaultDownloadMax()) ||
            !Limits::isValidPriority(c->defaultPriority()))
            return BCS_INVALID;
        next.defaultUploadMax = c->defaultUploadMax();
        next.defaultDownloadMax = c->defaultDownloadMax();
        next.defaultPriority = c->defaultPriority();
        next.lanException = c->lanException() ? 1 : 0;
        c->setLanException(next.lanException);
    } else if (command_cast<BCI_BWCResetAll>(command)) {
        next = m_factory;
    }
    if (!commit(next))
        return BCS_WRITE_FAILED;
    return BCS_SUCCESS;
}

bool BandwidthService::commit(const ServiceState& next)
{
    if (next == m_state)
        return true;
    QString error;
    if (m_stateFile && !m_stateFile->save(next, &error)) {
        qCritical("BandwidthService: cannot write the state file %s (%s); the change is refused",
                  qPrintable(m_stateFile->path()), qPrintable(error));
        return false;
    }
    m_state = next;
    m_backend->setPolicy(ShapingPolicy(m_state));
    return true;
}

bool BandwidthService::resolve(const BWCEntryPtr& entry, Backend::App* app) const
{
    if (!entry)
        return false;
    if (!entry->id.isEmpty() && m_backend->application(entry->id, app))
        return true;
    const QString id = entry->path.isEmpty() ? QString() : m_backend->idForPath(entry->path);
    return !id.isEmpty() && m_backend->application(id, app);
}

BWCEntryPtr BandwidthService::entryFor(const Backend::App& app) const
{
    return ReplyBuilder::entry(app, m_state.settingsFor(app.id));
}

void BandwidthService::broadcastGlobals()
{
    BaseCommandPtr command(new BCI_BWCGlobalsChanged);
    auto* globals = static_cast<BCI_BWCGlobalsChanged*>(command.data());
    globals->setGlobalUploadMax(m_state.globalUploadMax);
    globals->setGlobalDownloadMax(m_state.globalDownloadMax);
    globals->setEnabled(m_state.enabled);
    emit commandReady(command);
}

void BandwidthService::onApplicationStarted(const QString& id)
{
    Backend::App app;
    if (!m_backend->application(id, &app))
        return;
    if (m_state.hidden.contains(id)) {
        ServiceState next = m_state;
        next.hidden.remove(id);
        // Shown again even when that cannot be saved: it is active, which is
        // what hiding waited for. A restart may then hide it once more.
        if (!commit(next))
            m_state.hidden.remove(id);
    }
    emit commandReady(announce<BCI_BWCAppAdded>(entryFor(app)));
}

void BandwidthService::onApplicationStopped(const QString& id)
{
    Backend::App app;
    if (!m_backend->application(id, &app) || m_state.hidden.contains(id))
        return;
    emit commandReady(announce<BCI_BWCAppRemoved>(entryFor(app)));
}

void BandwidthService::onDevicesChanged()
{
    BaseCommandPtr command(new BCI_DevicesChanged);
    static_cast<BCI_DevicesChanged*>(command.data())->setDevices(m_backend->devices());
    emit commandReady(command);
}
