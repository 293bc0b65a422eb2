#include "rateallocator.h"

#include <algorithm>

QList<quint32> RateAllocator::allocate(const QList<Flow>& flows, qint64 capacity)
{
    QList<quint32> rates(flows.size(), 0);
    qint64 total = 0;
    for (int i = 0; i < flows.size(); ++i) {
        const Flow& flow = flows[i];
        rates[i] = flow.cap >= 0 ? quint32(std::min<qint64>(flow.wanted, flow.cap)) : flow.wanted;
        total += rates[i];
    }
    if (capacity < 0 || total <= capacity)
        return rates;

    // Water filling: every round gives each open flow its weighted share of
    // what is left; flows that need less than their share are settled at
    // their demand and drop out, which raises the share of the rest.
    QList<int> open;
    for (int i = 0; i < flows.size(); ++i) {
        if (rates[i] > 0)
            open.append(i);
    }
    const auto weightOf = [&](int i) { return double(std::max<quint32>(flows[i].weight, 1)); };
    double left = double(capacity);
    while (!open.isEmpty()) {
        double weights = 0;
        for (int i : open)
            weights += weightOf(i);
        const double perWeight = left / weights;
        QList<int> still;
        for (int i : open) {
            if (double(rates[i]) <= perWeight * weightOf(i))
                left -= rates[i];
            else
                still.append(i);
        }
        if (still.size() == open.size()) {
            // Nobody is satisfied: they split the rest by weight, rounded
            // down, and the units lost to rounding go one each to the first
            // of them so that the link is used to the last byte.
            qint64 given = 0;
            for (int i : still) {
                rates[i] = quint32(std::max(0.0, perWeight * weightOf(i)));
                given += rates[i];
            }
            for (int k = 0; k < still.size() && given < qint64(left); ++k, ++given)
                ++rates[still[k]];
            break;
        }
        open = still;
    }
    // Floating-point shares can round up by a unit; take any excess back.
    qint64 sum = 0;
    for (quint32 rate : rates)
        sum += rate;
    for (int i = 0; sum > capacity && i < rates.size(); ++i) {
        const qint64 cut = std::min<qint64>(rates[i], sum - capacity);
        rates[i] -= quint32(cut);
        sum -= cut;
    }
    return rates;
}
