#pragma once

#include <QList>

// Shares one direction of a link among competing flows: weighted max-min
// fairness. A flow never gets more than it asks for or more than its cap; when
// the flows ask for more than the capacity, each unsatisfied flow gets a share
// in proportion to its weight, and what a satisfied flow leaves over goes to
// the others. The result never exceeds the capacity.
class RateAllocator
{
public:
    struct Flow
    {
        quint32 wanted = 0; // what the application would send or receive
        qint64 cap = -1;    // its limit, or negative for none
        quint32 weight = 1; // its priority's weight (0 counts as 1)
    };

    // Gives one rate per flow, in order. A negative capacity means unlimited.
    static QList<quint32> allocate(const QList<Flow>& flows, qint64 capacity);
};
