#pragma once

#include "deviceinfo.h"

#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The network devices of one network namespace, through rtnetlink: listed
// on demand, and changed() when one appears, disappears, goes up or down or
// is renamed. The loopback device is not a network device for this purpose.
class DeviceMonitor : public QObject
{
    Q_OBJECT
public:
    // An empty netns path watches the namespace bwcd runs in.
    explicit DeviceMonitor(const QString& netnsPath, QObject* parent = nullptr);
    ~DeviceMonitor() override;

    bool start(QString* error);
    QList<DeviceInfoPtr> devices() const { return m_devices; }

    // The device codes the protocol knows: wireless, and every other kind.
    static constexpr qint32 WirelessCode = -253;
    static constexpr qint32 WiredCode = -254;

signals:
    void changed();
    // An address was added or removed (the local network may be another).
    void addressesChanged();

private:
    void onEvents();
    QList<DeviceInfoPtr> dump() const;

    QString m_netns;
    int m_events = -1; // subscribed to link and address changes
    int m_query = -1;  // for dumps
    QSocketNotifier* m_notifier = nullptr;
    QList<DeviceInfoPtr> m_devices;
};
