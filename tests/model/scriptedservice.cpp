#include "scriptedservice.h"

#include "bwccommands.h"
#include "devicecommands.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "statuscodes.h"

#include <QTcpServer>

namespace {

template <class T>
QList<QExplicitlySharedDataPointer<T>> copies(const QList<QExplicitlySharedDataPointer<T>>& list)
{
    QList<QExplicitlySharedDataPointer<T>> out;
    for (const auto& item : list)
        out.append(QExplicitlySharedDataPointer<T>(new T(*item)));
    return out;
}

} // namespace

ScriptedService::ScriptedService()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return;
    qputenv("BWC_PORT", QByteArray::number(probe.serverPort()));
    probe.close();
    m_server = CreateServiceIO(true, nullptr);
    if (m_server)
        connect(m_server, &ServiceIO::NewCommandReceived, this,
                [this](BaseCommandPtr cmd) { answer(cmd); });
    devices = {device(-254)};
}

ScriptedService::~ScriptedService()
{
    if (m_server)
        m_server->Release();
}

QList<BaseCommandPtr> ScriptedService::requested(const char* name) const
{
    QList<BaseCommandPtr> out;
    for (const BaseCommandPtr& cmd : requests) {
        if (qstrcmp(cmd->GetName(), name) == 0)
            out.append(cmd);
    }
    return out;
}

DeviceInfoPtr ScriptedService::device(qint32 deviceId)
{
    DeviceInfoPtr device(new DeviceInfo);
    device->deviceId = quint32(deviceId);
    device->textA = QStringLiteral("Adapter");
    return device;
}

BWCEntryPtr ScriptedService::entry(const QString& id, const QString& path, int instances, qint32 up,
                                   qint32 down, qint32 priority, bool highest)
{
    BWCEntryPtr entry(new BWCEntry);
    entry->id = id;
    entry->path = path;
    for (int i = 0; i < instances; ++i)
        entry->idList.append(quint32(1000 + i));
    entry->uploadMax = up;
    entry->downloadMax = down;
    entry->priority = priority;
    entry->highest = highest;
    return entry;
}

BWCEntryPtr ScriptedService::addApp(const QString& name, const BWCEntryPtr& entry)
{
    apps.append(entry);
    Process process;
    process.filePath = entry->path;
    process.description = name;
    processes.insert(entry->path, process);
    return entry;
}

BWCStatEntryPtr ScriptedService::stat(const QString& id, quint32 sent, quint32 received, bool total)
{
    BWCStatEntryPtr stat(new BWCStatEntry);
    stat->id = id;
    stat->sentRate = sent;
    stat->receivedRate = received;
    stat->isTotal = total;
    return stat;
}

void ScriptedService::answer(BaseCommandPtr cmd)
{
    m_server->RetrieveCommand(&cmd);
    requests.append(cmd);
    cmd->SetStatus(BCS_SUCCESS);
    if (auto* d = command_cast<BCI_BWCGetDefaults>(cmd)) {
        d->setDefaultUploadMax(defaultUp);
        d->setDefaultDownloadMax(defaultDown);
        d->setDefaultPriority(defaultPriority);
    } else if (auto* g = command_cast<BCI_BWCGetGlobals>(cmd)) {
        g->setGlobalUploadMax(globalUp);
        g->setGlobalDownloadMax(globalDown);
        g->setEnabled(enabled);
    } else if (auto* e = command_cast<BCI_EnumDevices>(cmd)) {
        e->setDevices(copies(devices));
    } else if (auto* a = command_cast<BCI_BWCEnumApps>(cmd)) {
        if (enumerationsAnswered != 0)
            a->setApps(copies(apps));
        if (enumerationsAnswered > 0)
            --enumerationsAnswered;
    } else if (auto* p = command_cast<BCI_GetProcessInfo>(cmd)) {
        if (processes.contains(p->path()))
            p->setProcess(processes.value(p->path()));
        else
            cmd->SetStatus(BCS_INVALID);
    } else if (auto* s = command_cast<BCI_BWCStats>(cmd)) {
        s->setStats(copies(stats));
    }
    m_server->SendCommand(cmd, WaitMS);
}

void ScriptedService::broadcast(BaseCommand* cmd, qint32 status)
{
    cmd->SetStatus(status);
    m_server->SendCommand(BaseCommandPtr(cmd), WaitMS);
}

void ScriptedService::appAdded(const BWCEntryPtr& entry)
{
    auto* cmd = new BCI_BWCAppAdded;
    cmd->setEntry(BWCEntryPtr(new BWCEntry(*entry)));
    broadcast(cmd);
}

void ScriptedService::appRemoved(const BWCEntryPtr& entry)
{
    auto* cmd = new BCI_BWCAppRemoved;
    cmd->setEntry(BWCEntryPtr(new BWCEntry(*entry)));
    broadcast(cmd);
}

void ScriptedService::devicesChanged(const QList<DeviceInfoPtr>& list)
{
    auto* cmd = new BCI_DevicesChanged;
    cmd->setDevices(copies(list));
    broadcast(cmd);
}
