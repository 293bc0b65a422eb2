// The application view's side of the conversation with the service: replies,
// broadcasts, statistics, the device scan, the reload and the making of rows.

#include "applicationsettings.h"
#include "applicationview.h"
#include "bandwidthbar.h"
#include "bwccommands.h"
#include "datasource.h"
#include "devicecommands.h"
#include "modellog.h"
#include "pendingapplication.h"
#include "serviceio.h"
#include "statuscodes.h"
#include "ui_applicationview.h"
#include "unitconvert.h"

#include <QHash>
#include <QMap>
#include <QVBoxLayout>

namespace {

constexpr quint32 wirelessDevice = quint32(-253);
constexpr quint32 wiredDevice = quint32(-254);

// The service's bytes per second to bits per second; negative limits are
// codes (-1 no limit, -2 the default applies) and pass unchanged.
qint32 limitFromService(qint32 limit)
{
    return limit < 0 ? limit : qint32(UnitConvert::BPSfromUINT(quint32(limit), UnitConvert::Bytes));
}

quint32 bitsFromBytes(quint32 bytes)
{
    return bytes > 0xFFFFFFFFu / 8 ? 0xFFFFFFFFu : bytes * 8;
}

} // namespace

void ApplicationView::NewCommandReceived(BaseCommandPtr cmd)
{
    if (m_client)
        m_client->RetrieveCommand(&cmd);
    if (auto* info = command_cast<BCI_GetProcessInfo>(cmd))
        m_askedPaths.remove(info->path()); // answered, if only with an error
    if (!cmd || cmd->GetStatus() != BCS_SUCCESS)
        return;
    switch (cmd->GetType()) {
    case BCI_GetProcessInfo::TypeId:
        onProcessInfo(cmd);
        break;
    case BCI_BWCEnumApps::TypeId:
        onEnumApps(cmd);
        break;
    case BCI_BWCResetAll::TypeId:
        m_list.clear();
        if (m_enumerated)
            requestEnumeration();
        break;
    case BCI_BWCStats::TypeId:
        onStats(cmd);
        break;
    case BCI_GetFileIcon::TypeId:
        onFileIcon(cmd);
        break;
    case BCI_EnumDevices::TypeId:
        scanDevices(command_cast<BCI_EnumDevices>(cmd)->devices());
        UpdateAppView();
        break;
    default:
        break;
    }
}

void ApplicationView::NewBroadcastReceived(BaseCommandPtr cmd)
{
    if (m_client)
        m_client->RetrieveCommand(&cmd);
    if (!cmd)
        return;
    if (auto* added = command_cast<BCI_BWCAppAdded>(cmd)) {
        const BWCEntryPtr entry = added->entry();
        if (cmd->GetStatus() != BCS_SUCCESS || !entry) {
            qCDebug(lcModule, "add app with bad data\n");
            return;
        }
        queueProcessInfo(entry);
        qCDebug(lcModule, "AddApp\n");
        qCDebug(lcModule, "GID: %d\n", entry->gid);
        qCDebug(lcModule, "Path: %s", qPrintable(entry->path));
    } else if (auto* removed = command_cast<BCI_BWCAppRemoved>(cmd)) {
        if (cmd->GetStatus() == BCS_SUCCESS && removed->entry())
            onAppRemoved(removed->entry());
    } else if (auto* changed = command_cast<BCI_DevicesChanged>(cmd)) {
        qCDebug(lcModule, "Devices Changed Broadcast received in mod applications\n");
        scanDevices(changed->devices());
        UpdateAppView();
    }
}

void ApplicationView::CommandTimedOut(BaseCommandPtr)
{
    // Nothing is waited for: every periodic request repeats on its own.
}

void ApplicationView::queueProcessInfo(const BWCEntryPtr& entry)
{
    auto* pending = new PendingApplication;
    pending->process.filePath = entry->path;
    pending->entry = entry;
    addPending(pending);
    // The answer to a request still under way takes the newest record of its
    // path, so a second request would only be answered in vain. The view is
    // enumerated twice as it starts and again on every device change: with a
    // thousand applications, the doubled requests outlasted their time-out.
    const auto asked = m_askedPaths.constFind(entry->path);
    if (asked != m_askedPaths.cend() && !asked->hasExpired())
        return;
    m_askedPaths.insert(entry->path, QDeadlineTimer(RequestTimeoutMS));
    auto* info = new BCI_GetProcessInfo;
    info->setPath(entry->path);
    send(info);
}

void ApplicationView::addPending(PendingApplication* pending)
{
    QMutexLocker locker(&m_pendingMutex);
    // One record per path: the newer entry is the one to show.
    delete m_pending.take(pending->process.filePath);
    m_pending.insert(pending->process.filePath, pending);
}

PendingApplication* ApplicationView::takePending(const Process& process)
{
    QMutexLocker locker(&m_pendingMutex);
    return m_pending.take(process.filePath);
}

void ApplicationView::onEnumApps(const BaseCommandPtr& cmd)
{
    const QList<BWCEntryPtr> apps = command_cast<BCI_BWCEnumApps>(cmd)->apps();
    for (const BWCEntryPtr& entry : apps) {
        if (entry)
            queueProcessInfo(entry);
    }
    m_enumerated = true;
}

void ApplicationView::onProcessInfo(const BaseCommandPtr& cmd)
{
    auto* info = command_cast<BCI_GetProcessInfo>(cmd);
    Process process = info->process();
    // A description without its path still answers the request it was sent for.
    if (process.filePath.isEmpty())
        process.filePath = info->path();
    std::unique_ptr<PendingApplication> pending(takePending(process));
    if (!pending)
        return; // a late answer for an application reported again since
    pending->process = process;

    QString name = pending->process.description;
    if (name.isEmpty()) {
        const QString& path = pending->process.filePath;
        name = path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
    }
    addApplication(name, pending->process, limitFromService(pending->entry->uploadMax),
                   limitFromService(pending->entry->downloadMax), pending->entry);
    scheduleReshade();
}

void ApplicationView::onStats(const BaseCommandPtr& cmd)
{
    const QList<BWCStatEntryPtr> stats = command_cast<BCI_BWCStats>(cmd)->stats();
    QMutexLocker locker(&m_mutex);

    struct Sum
    {
        QString id;
        quint32 sent;
        quint32 received;
    };
    // Every row of one name shows the rates of all of them together.
    QMap<QString, Sum> sums;
    for (const BWCStatEntryPtr& record : stats) {
        if (!record)
            continue;
        if (record->isTotal) {
            if (m_rxSource && m_rxSource->isValid())
                m_rxSource->publish(QVariant::fromValue<quint32>(record->receivedRate));
            if (m_txSource && m_txSource->isValid())
                m_txSource->publish(QVariant::fromValue<quint32>(record->sentRate));
            continue;
        }
        const AppPtr row = m_list.find(record->id);
        if (!row)
            continue;
        auto it = sums.find(row->name());
        if (it == sums.end()) {
            sums.insert(row->name(), Sum{record->id, record->sentRate, record->receivedRate});
        } else {
            it->sent += record->sentRate;
            it->received += record->receivedRate;
        }
    }
    if (sums.isEmpty())
        return;
    // The rows of each application (name and path), in display order: one
    // walk of the list rather than one per name.
    QHash<std::pair<QString, QString>, QList<AppPtr>> byApplication;
    for (int i = 0; i < m_list.count(); ++i) {
        const AppPtr row = m_list.at(i);
        byApplication[{row->name(), row->process().filePath}].append(row);
    }
    for (const Sum& sum : std::as_const(sums)) {
        const AppPtr first = m_list.find(sum.id);
        if (!first)
            continue;
        const QList<AppPtr> same = byApplication.value({first->name(), first->process().filePath});
        for (const AppPtr& row : same) {
            row->uploadBar()->setCurrent(bitsFromBytes(sum.sent));
            row->downloadBar()->setCurrent(bitsFromBytes(sum.received));
        }
    }
}

void ApplicationView::onFileIcon(const BaseCommandPtr& cmd)
{
    auto* reply = command_cast<BCI_GetFileIcon>(cmd);
    QMutexLocker locker(&m_mutex);
    if (reply->icon().isNull())
        return;
    if (reply->path().isEmpty()) {
        if (const AppPtr row = m_list.findByPath(QString()))
            row->setIcon(reply->icon());
    } else if (const AppPtr first = m_list.findByPath(reply->path())) {
        QList<AppPtr> same;
        m_list.findSame(first->name(), reply->path(), same);
        for (const AppPtr& row : std::as_const(same))
            row->setIcon(reply->icon());
    }
    scheduleReshade();
}

void ApplicationView::onAppRemoved(const BWCEntryPtr& entry)
{
    QMutexLocker locker(&m_mutex);
    const AppPtr row = m_list.find(entry->id);
    qCDebug(lcModule, "RemoveApp\n");
    qCDebug(lcModule, "GID: %d\n", entry->gid);
    qCDebug(lcModule, "Path: %s", qPrintable(entry->path));
    QList<AppPtr> same;
    m_list.findSameAs(entry->id, same);
    if (!row)
        return;
    if (same.size() < 2) {
        // The last instance stopped: the application stays, greyed out.
        row->setEntry(entry);
        row->setVisible(m_showAll);
        row->setOffline(true);
        if (row == m_selected && !m_showAll)
            clearSelection();
    } else {
        for (auto it = same.begin(); it != same.end();) {
            const AppPtr r = *it;
            if (r == m_selected)
                clearSelection();
            if (r->entryKey() == entry->id) {
                m_list.removeByKey(entry->id);
                dropRow(r);
                it = same.erase(it);
            } else {
                ++it;
            }
        }
        for (int i = 0; i < same.size(); ++i) {
            same.at(i)->setOffline(i > 0);
            same.at(i)->setVisible(i == 0);
        }
    }
    scheduleReshade();
}

void ApplicationView::scanDevices(const QList<DeviceInfoPtr>& devices)
{
    m_wirelessPresent = false;
    bool wireless = false;
    bool other = false;
    for (const DeviceInfoPtr& device : devices) {
        if (!device)
            continue;
        if (device->deviceId == wirelessDevice)
            m_wirelessPresent = wireless = true;
        else if (device->deviceId == wiredDevice)
            other = true;
    }
    m_devicesPresent = wireless || other;
}

void ApplicationView::reload()
{
    QMutexLocker locker(&m_mutex);
    m_rowsLayout->setEnabled(false);
    for (int i = 0; i < m_list.count(); ++i) {
        if (const AppPtr row = m_list.at(i))
            dropRow(row);
    }
    m_list.clear();
    m_rowsLayout->setEnabled(true);
    if (m_enumerated)
        requestEnumeration();
}

void ApplicationView::newDefaultUL(qint32)
{
    reload();
}

void ApplicationView::newDefaultDL(qint32)
{
    reload();
}

void ApplicationView::newDefaultPriority(quint32)
{
    reload();
}

void ApplicationView::newDefaultBlock(bool)
{
    reload();
}

void ApplicationView::newDefaultLanException(bool) {}

void ApplicationView::newBarFrameRate(quint32) {}

void ApplicationView::newStatSampleRate(quint32)
{
    // Polling stays off while bandwidth control is off.
    if (!m_statsTimer)
        return;
    killTimer(m_statsTimer);
    m_statsTimer = startTimer(samplePeriod());
}

void ApplicationView::doResetAll()
{
    reload();
}

void ApplicationView::calledBWCEnable(bool bEnable)
{
    QMutexLocker locker(&m_mutex);
    ui->scrollArea->setEnabled(bEnable);
    ui->checkBoxOfflineApps->setEnabled(bEnable);
    ui->comboBoxSort->setEnabled(bEnable);
    m_enabled = bEnable;
    if (bEnable && !m_statsTimer) {
        m_statsTimer = startTimer(samplePeriod());
    } else if (!bEnable && m_statsTimer) {
        killTimer(m_statsTimer);
        m_statsTimer = 0;
    }
    if (bEnable)
        reload();
    UpdateAppView();
}
