#pragma once

#include "backend.h"
#include "basecommand.h"
#include "servicestate.h"
#include "totalspages.h"

#include <QObject>

class StateFile;

// The service's answers to the module: every request it receives becomes a
// reply of the same type and sequence, and every change of its state or of
// the machine becomes a broadcast. Changes are written to the state file
// before they are acknowledged. Knows nothing of sockets; the daemon wires
// it to the transport and tests drive it directly.
class BandwidthService : public QObject
{
    Q_OBJECT
public:
    // The state file may be null (nothing is persisted). Neither it nor the
    // backend is owned.
    BandwidthService(Backend* backend, const ServiceState& state, const StateFile* stateFile,
                     QObject* parent = nullptr);

    const ServiceState& state() const { return m_state; }
    // What a reset of all settings returns to (by default ServiceState's own).
    void setFactoryState(const ServiceState& state) { m_factory = state; }
    // Whether a request changes settings rather than only reading them.
    static bool changesSettings(const BaseCommand& command);
    // Makes a request its own refusal: the status, and whatever record a reply must carry.
    static void refuse(BaseCommand* command);

public slots:
    // Answers one request: emits its reply, then any broadcasts it causes.
    void handleCommand(const BaseCommandPtr& command);

signals:
    // A reply (which keeps its request's sequence and session) or a broadcast.
    void commandReady(const BaseCommandPtr& command);

private slots:
    void onApplicationStarted(const QString& id);
    void onApplicationStopped(const QString& id);
    void onDevicesChanged();

private:
    // Each gives the reply's status and fills the command's reply fields.
    int enumApps(BaseCommand* command, QList<BWCEntryPtr>* overflow);
    int appSettings(BaseCommand* command);
    int stats(BaseCommand* command);
    int appTotals(BaseCommand* command);
    int processInfo(BaseCommand* command);
    int enumDevices(BaseCommand* command);
    int changeState(BaseCommand* command);

    // Persists next and makes it current; false (nothing changes) when the
    // state file cannot be written.
    bool commit(const ServiceState& next);
    // The application an entry refers to, by id or else by path.
    bool resolve(const BWCEntryPtr& entry, Backend::App* app) const;
    BWCEntryPtr entryFor(const Backend::App& app) const;
    void broadcastGlobals();

    Backend* m_backend;
    const StateFile* m_stateFile;
    ServiceState m_state;
    ServiceState m_factory;
    TotalsPages m_totalsPages;
};
