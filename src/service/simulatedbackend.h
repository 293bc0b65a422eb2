#pragma once

#include "backend.h"
#include "shapingpolicy.h"
#include "simulatedapp.h"

#include <QHash>
#include <QImage>
#include <QRandomGenerator>

// An invented machine: a seeded set of applications that start, stop and use
// the network in believable patterns, a link of fixed capacity shared under
// the service's rules, and one wired (optionally also one wireless) device.
// Time moves only when advance() is called, so a test can step it by hand.
class SimulatedBackend final : public Backend
{
    Q_OBJECT
public:
    struct Options
    {
        quint32 seed = 1;
        int appCount = 30;
        bool wireless = false;
    };

    // The link's capacity, bytes per second: 20 Mbit/s up, 100 Mbit/s down.
    static constexpr qint64 LinkUpload = 2500000;
    static constexpr qint64 LinkDownload = 12500000;

    explicit SimulatedBackend(const Options& options, QObject* parent = nullptr);

    QList<App> applications() const override;
    bool application(const QString& id, App* out) const override;
    QString idForPath(const QString& path) const override;
    bool processInfo(const QString& path, Process* out) const override;
    QString displayName(const QString& path) const override;
    QList<DeviceInfoPtr> devices() const override;
    void setPolicy(const ShapingPolicy& policy) override;
    QList<Rate> rates() const override;

    // Moves the clock on; every whole second the applications live and the
    // link is shared again. Announces starts and stops after the step.
    void advance(int milliseconds);
    void setWirelessPresent(bool present);

    // Takes an application out of the random patterns: it runs with the given
    // number of instances (0: stopped) and wants the given rates until it is
    // scripted again. Announces the start or stop like any other.
    void script(const QString& id, int instances, quint32 wantedUp, quint32 wantedDown);

private:
    void step();
    // Feeds the accounting with the second that just ended.
    void account();
    void share();
    SimulatedApp* find(const QString& id);

    QList<SimulatedApp> m_apps;
    QHash<QString, int> m_byId;
    QHash<QString, int> m_byPath; // lower-case path
    mutable QHash<int, QImage> m_icons;
    QRandomGenerator m_rng;
    ShapingPolicy m_policy;
    quint32 m_nextPid = 0;
    int m_pendingMs = 0;
    qint64 m_elapsedMs = 0; // simulated time
    bool m_wireless = false;
};
