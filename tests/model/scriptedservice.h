#pragma once

// The project's own server in the test's process, answering the module's
// requests as the service would from a script the test sets up: devices,
// applications, process descriptions, statistics, defaults and globals.

#include "basecommand.h"
#include "bwcentry.h"
#include "bwcstatentry.h"
#include "deviceinfo.h"
#include "process.h"
#include "records.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <memory>

class ServiceIO;

class ScriptedService : public QObject
{
    Q_OBJECT
public:
    static constexpr int WaitMS = 10000;

    // Also points BWC_PORT at the server, so that clients made afterwards find it.
    ScriptedService();
    ~ScriptedService() override;
    bool isListening() const { return m_server != nullptr; }

    // Devices: -254 wired, -253 wireless.
    QList<DeviceInfoPtr> devices;
    QList<BWCEntryPtr> apps;
    QHash<QString, Process> processes; // by path
    QList<BWCStatEntryPtr> stats;
    // In the service's units: defaults in bytes per second, globals in unit 4.
    qint32 defaultUp = -1, defaultDown = -1, defaultPriority = 2;
    qint32 globalUp = 100000, globalDown = 500000;
    bool enabled = true;
    // How many enumerations get the applications; later ones get none, so
    // that a test knows which rows the view will make. -1: all.
    int enumerationsAnswered = -1;

    // Every request, in order of arrival.
    QList<BaseCommandPtr> requests;
    // The requests of one command name.
    QList<BaseCommandPtr> requested(const char* name) const;

    static DeviceInfoPtr device(qint32 deviceId);
    // An application entry; limits in bytes per second or the codes -1 and -2.
    static BWCEntryPtr entry(const QString& id, const QString& path, int instances = 1,
                             qint32 up = -1, qint32 down = -1, qint32 priority = 2,
                             bool highest = false);
    // Adds an entry and a description named name for its path.
    BWCEntryPtr addApp(const QString& name, const BWCEntryPtr& entry);
    static BWCStatEntryPtr stat(const QString& id, quint32 sent, quint32 received,
                                bool total = false);

    void broadcast(BaseCommand* cmd, qint32 status = 1);
    void appAdded(const BWCEntryPtr& entry);
    void appRemoved(const BWCEntryPtr& entry);
    void devicesChanged(const QList<DeviceInfoPtr>& list);

private:
    void answer(BaseCommandPtr cmd);

    ServiceIO* m_server = nullptr;
};
