#include "trafficmodel.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

using Kind = SimulatedApp::Kind;

constexpr quint32 KB = 1000;
constexpr quint32 MB = 1000 * KB;

// A value in [low, high).
quint32 between(QRandomGenerator& rng, quint32 low, quint32 high)
{
    return low + quint32(rng.bounded(std::max<quint32>(high - low, 1)));
}

// value scaled by a random factor within +-percent.
quint32 jitter(QRandomGenerator& rng, quint32 value, int percent)
{
    const double factor = 1.0 + (rng.generateDouble() * 2 - 1) * percent / 100.0;
    return quint32(std::max(0.0, value * factor));
}

// Starts a burst with the given chance per second; true while one runs.
bool inBurst(SimulatedApp& app, QRandomGenerator& rng, double chance, int minSeconds,
             int maxSeconds)
{
    if (app.burstSeconds > 0) {
        --app.burstSeconds;
        return true;
    }
    if (rng.generateDouble() < chance) {
        app.burstSeconds = int(between(rng, quint32(minSeconds), quint32(maxSeconds)));
        return true;
    }
    return false;
}

void setDemand(SimulatedApp& app, quint32 up, quint32 down)
{
    app.wantedUp = up;
    app.wantedDown = down;
}

} // namespace

TrafficModel::Change TrafficModel::stepLife(SimulatedApp& app, QRandomGenerator& rng,
                                            quint32* nextPid)
{
    const auto newPid = [&] {
        const quint32 pid = *nextPid;
        *nextPid += 4 * (1 + rng.bounded(64));
        return pid;
    };
    if (app.scripted)
        return Change::None;
    if (app.pids.isEmpty()) {
        if (--app.secondsToChange > 0)
            return Change::None;
        app.pids.append(newPid());
        app.secondsToChange = app.meanRunSeconds ? drawSeconds(rng, app.meanRunSeconds) : 0;
        app.burstSeconds = 0;
        return Change::Started;
    }
    if (app.meanRunSeconds == 0)
        return Change::None; // a service runs until the machine stops
    if (--app.secondsToChange <= 0) {
        app.pids.clear();
        app.secondsToChange = drawSeconds(rng, app.meanIdleSeconds);
        return Change::Stopped;
    }
    // Programs that run one process per window open and close them now and then.
    if (app.maxInstances > 1 && rng.generateDouble() < 1.0 / 120) {
        if (app.pids.size() < app.maxInstances && (app.pids.size() == 1 || rng.bounded(2)))
            app.pids.append(newPid());
        else if (app.pids.size() > 1)
            app.pids.removeLast();
        return Change::InstancesChanged;
    }
    return Change::None;
}

void TrafficModel::stepDemand(SimulatedApp& app, QRandomGenerator& rng)
{
    if (app.scripted)
        return;
    if (app.pids.isEmpty()) {
        setDemand(app, 0, 0);
        return;
    }
    app.phase += 0.1;
    const quint32 instances = quint32(app.pids.size());
    switch (app.kind) {
    case Kind::Browser:
        if (inBurst(app, rng, 0.08 * instances, 2, 8))
            setDemand(app, between(rng, 20 * KB, 80 * KB), between(rng, 400 * KB, 4 * MB));
        else
            setDemand(app, between(rng, 1 * KB, 4 * KB) * instances,
                      between(rng, 2 * KB, 20 * KB) * instances);
        break;
    case Kind::Video: {
        // Players fill their buffer ahead at twice the bit rate now and then.
        const quint32 rate = inBurst(app, rng, 0.02, 4, 8) ? 1400 * KB : 700 * KB;
        setDemand(app, jitter(rng, 5 * KB, 20), jitter(rng, rate, 10));
        break;
    }
    case Kind::Music:
        setDemand(app, jitter(rng, 1 * KB, 20), jitter(rng, 40 * KB, 5));
        break;
    case Kind::Downloader:
        if (inBurst(app, rng, 0.01, 60, 300))
            setDemand(app, jitter(rng, 60 * KB, 10), jitter(rng, 9 * MB, 5));
        else
            setDemand(app, between(rng, 0, 500), between(rng, 0, 1 * KB));
        break;
    case Kind::CloudSync:
        if (inBurst(app, rng, 0.02, 20, 120))
            setDemand(app, between(rng, 300 * KB, 2 * MB), jitter(rng, 20 * KB, 20));
        else
            setDemand(app, between(rng, 200, 1 * KB), between(rng, 200, 1 * KB));
        break;
    case Kind::Chat: {
        // Speech comes and goes; a video call lasts a while and weighs ten times more.
        const double talk = 0.5 + 0.5 * std::sin(app.phase);
        const quint32 scale = inBurst(app, rng, 0.005, 60, 600) ? 10 : 1;
        const quint32 voice = quint32((4 + 8 * talk) * KB) * scale;
        setDemand(app, jitter(rng, voice, 15), jitter(rng, voice, 15));
        break;
    }
    case Kind::Game:
        setDemand(app, jitter(rng, 20 * KB, 25), jitter(rng, 35 * KB, 25));
        break;
    case Kind::Mail:
        if (inBurst(app, rng, 0.05, 2, 5))
            setDemand(app, between(rng, 20 * KB, 200 * KB), between(rng, 100 * KB, 500 * KB));
        else
            setDemand(app, between(rng, 50, 300), between(rng, 50, 300));
        break;
    case Kind::Updater:
        setDemand(app, jitter(rng, 2 * KB, 20), jitter(rng, 3 * MB, 30));
        break;
    case Kind::Background:
        setDemand(app, between(rng, 0, 2 * KB), between(rng, 0, 2 * KB));
        break;
    }
}

int TrafficModel::drawSeconds(QRandomGenerator& rng, int mean)
{
    const double u = 1.0 - rng.generateDouble();
    return std::max(5, int(-std::log(u) * mean));
}
