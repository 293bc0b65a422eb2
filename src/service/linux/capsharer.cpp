#include "capsharer.h"

#include <algorithm>
#include <utility>

QList<double> CapSharer::shares(const QList<Use>& uses, double cap)
{
    QList<int> busy;
    for (int i = 0; i < uses.size(); ++i) {
        if (uses[i].held || uses[i].rate >= BusyFraction * cap)
            busy.append(i);
    }
    if (busy.size() <= 1 || cap <= 0)
        return QList<double>(uses.size(), 1.0);

    // A device the class did not fill keeps what it used and room to grow
    // into; the devices where it had to wait share the rest evenly. Without
    // any of those, the rest is room for all.
    QList<double> result(uses.size(), IdleShare);
    QList<int> held;
    double used = 0;
    for (const int i : std::as_const(busy)) {
        if (uses[i].held)
            held.append(i);
        else
            used += uses[i].rate;
    }
    if (used >= cap) {
        // Devices that were not held back already carried the whole cap or
        // more (each had more than its share of it): in proportion.
        double all = 0;
        for (const int i : std::as_const(busy))
            all += std::max(uses[i].rate, IdleShare * cap);
        for (const int i : std::as_const(busy))
            result[i] = std::max(uses[i].rate, IdleShare * cap) / all;
        return result;
    }
    for (const int i : std::as_const(busy)) {
        if (uses[i].held)
            result[i] = std::max((cap - used) / double(held.size()), IdleShare * cap) / cap;
        else if (!held.isEmpty())
            result[i] = std::max(uses[i].rate * Room, IdleShare * cap) / cap;
        else
            result[i] = (uses[i].rate + (cap - used) / double(busy.size())) / cap;
    }
    return result;
}
