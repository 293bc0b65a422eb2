#pragma once

#include "appaccounting.h"
#include "deviceinfo.h"
#include "process.h"

#include <QList>
#include <QObject>
#include <QString>

class ShapingPolicy;

// Where the service's facts come from and where its rules go: the
// applications that use the network, their executables' descriptions, the
// network devices, and the rates the applications get under the rules. The
// simulated backend invents all of it; a platform backend would observe and
// shape real traffic behind the same interface.
class Backend : public QObject
{
    Q_OBJECT
public:
    struct App
    {
        QString id;          // stable key, the same across restarts
        QString path;        // executable
        qint32 gid = 0;      // the backend's group number
        QList<quint32> pids; // running instances; empty when not running
    };
    struct Rate
    {
        QString id;
        quint32 sent = 0; // bytes per second
        quint32 received = 0;
    };

    using QObject::QObject;

    // Every application the backend knows, running or not, in a stable order.
    virtual QList<App> applications() const = 0;
    virtual bool application(const QString& id, App* out) const = 0;
    // The id of the application with this executable (paths compare without
    // regard to case), or a null string.
    virtual QString idForPath(const QString& path) const = 0;
    virtual bool processInfo(const QString& path, Process* out) const = 0;
    // What people call the application with this executable (its
    // description's name), without the rest of the description.
    virtual QString displayName(const QString& path) const = 0;
    virtual QList<DeviceInfoPtr> devices() const = 0;

    // The rules to enforce from now on; rates() reflects them at once.
    virtual void setPolicy(const ShapingPolicy& policy) = 0;
    // Current rates of the running applications, in the order of applications().
    virtual QList<Rate> rates() const = 0;

    // What each application moved: totals, and the traffic that stayed on
    // the machine.
    const AppAccounting& accounting() const { return m_accounting; }
    void resetTotals() { m_accounting.resetTotals(); }

signals:
    // An application began running, or its set of instances or its
    // description changed while it runs.
    void applicationStarted(const QString& id);
    // The last instance of an application ended.
    void applicationStopped(const QString& id);
    void devicesChanged();

protected:
    AppAccounting m_accounting;
};
