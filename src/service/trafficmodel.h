#pragma once

#include "simulatedapp.h"

class QRandomGenerator;

// How a simulated application behaves from one second to the next: when it
// starts and stops, and how much it would send and receive if nothing held
// it back. Rates are bytes per second.
class TrafficModel
{
public:
    enum class Change
    {
        None,
        Started,
        InstancesChanged,
        Stopped
    };

    // Advances the application's life by one second.
    static Change stepLife(SimulatedApp& app, QRandomGenerator& rng, quint32* nextPid);
    // Sets the application's demand for the coming second.
    static void stepDemand(SimulatedApp& app, QRandomGenerator& rng);

    // A waiting time with the given mean, exponentially distributed as the
    // gaps between independent events are, and at least five seconds.
    static int drawSeconds(QRandomGenerator& rng, int mean);
};
