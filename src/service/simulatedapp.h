#pragma once

#include <QColor>
#include <QList>
#include <QString>

// One invented application of the simulated machine: what it is, how it
// behaves, and its state as time goes by.
struct SimulatedApp
{
    // The traffic pattern an application follows.
    enum class Kind
    {
        Browser,    // idle trickle with page-load bursts, several instances
        Video,      // steady heavy download while playing
        Music,      // steady light download
        Downloader, // saturating downloads for minutes at a time
        CloudSync,  // upload bursts when files change
        Chat,       // light symmetric voice and text
        Game,       // moderate symmetric, steady
        Mail,       // occasional short bursts both ways
        Updater,    // rare large downloads
        Background, // a trickle, always running
    };

    // Identity and description.
    QString id;
    QString path;
    QString name;
    QString company;
    QString version;
    quint64 fileSize = 0;
    QColor colour;
    qint32 gid = 0;
    Kind kind = Kind::Background;

    // Life cycle: how long it tends to run and to stay closed, in seconds,
    // and how many instances it may have at once.
    int meanRunSeconds = 0; // 0: never ends once started
    int meanIdleSeconds = 0;
    int maxInstances = 1;

    // State. A scripted application keeps the instances and demand a test or
    // scenario gave it instead of following its kind's patterns.
    bool scripted = false;
    QList<quint32> pids;
    int secondsToChange = 0; // until the next start or stop
    int burstSeconds = 0;    // left in the current burst of traffic
    double phase = 0;        // free-running pattern state
    quint32 wantedUp = 0;    // demand this second, bytes per second
    quint32 wantedDown = 0;
    quint32 sent = 0; // granted, bytes per second
    quint32 received = 0;
};
