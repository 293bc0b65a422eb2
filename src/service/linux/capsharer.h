#pragma once

#include <QList>

// One cap over several devices. A tree holds a class to its rate on its own
// device only, so a program whose traffic leaves by two devices at once
// would get its cap on each. Once a period the devices a class is busy on
// share its cap by what each of them carried: a device the class did not
// fill keeps what it used there and some room to grow, and the devices
// where it had to wait for its share split the rest evenly (with none of
// those, the rest is room for all). Devices that carried the whole cap
// between them without waiting share it in proportion. A device the class is idle on keeps a
// small share, from which it grows once the class uses it; a class busy on
// one device at most has the whole cap there, as without sharing.
class CapSharer
{
public:
    struct Use
    {
        double rate = 0;   // bytes per second the class carried on the device
        bool held = false; // it had to wait for its share there
    };

    // Of the cap: below it a device counts as idle for the class...
    static constexpr double BusyFraction = 0.02;
    // ...and keeps this share while others are busy.
    static constexpr double IdleShare = 0.05;
    // A device that did not use all of its share may grow this much.
    static constexpr double Room = 1.25;

    // Each device's share of the cap, in the order of uses.
    static QList<double> shares(const QList<Use>& uses, double cap);
};
