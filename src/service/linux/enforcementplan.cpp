#include "enforcementplan.h"

#include <algorithm>

namespace {

struct Direction
{
    qint64 global; // negative: none
    EnforcementPlan::Tree* tree;
    quint16 bwc_app_rule::*minor;
};

// The ceiling of a leaf: its cap under the global maximum.
quint64 ceilingOf(qint64 cap, qint64 global)
{
    quint64 ceil = global > 0 ? quint64(global) : EnforcementPlan::Unlimited;
    if (cap >= 0)
        ceil = std::min(ceil, std::max<quint64>(quint64(cap), 1));
    return ceil;
}

} // namespace

quint32 EnforcementPlan::prioOf(quint32 weight)
{
    if (weight >= ShapingPolicy::weightOf(Limits::PriorityHigh, true))
        return 0;
    if (weight >= ShapingPolicy::weightOf(Limits::PriorityHigh, false))
        return 1;
    if (weight >= ShapingPolicy::weightOf(Limits::PriorityNormal, false))
        return 2;
    return 3;
}

EnforcementPlan EnforcementPlan::build(const ShapingPolicy& policy,
                                       const QMap<quint32, QString>& apps,
                                       QHash<quint32, quint16>* minors)
{
    EnforcementPlan plan;
    plan.enabled = policy.enabled();
    if (!plan.enabled)
        return plan;
    plan.lanExempt = policy.lanExempt();

    // Classes stay with their applications; a number that is gone frees its minor.
    for (auto it = minors->begin(); it != minors->end();)
        it = apps.contains(it.key()) ? std::next(it) : minors->erase(it);
    auto minorOf = [minors](quint32 number) {
        if (const auto it = minors->constFind(number); it != minors->constEnd())
            return it.value();
        QList<quint16> used = minors->values();
        std::sort(used.begin(), used.end());
        quint16 next = FirstAppMinor;
        for (quint16 taken : std::as_const(used)) {
            if (taken == next)
                ++next;
            else if (taken > next)
                break;
        }
        // Beyond the classes a tree can hold, an application passes the shaper.
        if (next >= HtbShaper::MinorLimit)
            return quint16(0);
        minors->insert(number, next);
        return next;
    };

    const ShapingPolicy::Rule fallbackRule = policy.ruleFor(QString());
    const Direction directions[] = {
        {policy.globalUpload(), &plan.upload, &bwc_app_rule::upload_minor},
        {policy.globalDownload(), &plan.download, &bwc_app_rule::download_minor},
    };
    struct Leaf
    {
        quint32 number; // 0 for the fallback
        ShapingPolicy::Rule rule;
    };
    QList<Leaf> leaves{{0, fallbackRule}};
    for (auto it = apps.constBegin(); it != apps.constEnd(); ++it)
        leaves.append({it.key(), policy.ruleFor(it.value())});

    for (const Leaf& leaf : std::as_const(leaves)) {
        bwc_app_rule* rule = leaf.number ? &plan.rules[leaf.number] : &plan.fallback;
        rule->flags = leaf.rule.blocked ? BWC_RULE_BLOCKED : 0;
        if (!leaf.rule.blocked && leaf.rule.uploadCap >= 0)
            rule->upload_pace = quint32(
                qMin<quint64>(quint64(leaf.rule.uploadCap) * PacePercent / 100, 0xFFFFFFFEu));
    }
    for (const Direction& d : directions) {
        QList<HtbShaper::ClassParams> leafClasses;
        for (const Leaf& leaf : std::as_const(leaves)) {
            const qint64 cap = d.tree == &plan.upload ? leaf.rule.uploadCap : leaf.rule.downloadCap;
            if (leaf.rule.blocked || (cap < 0 && d.global <= 0))
                continue; // passes the shaper
            HtbShaper::ClassParams leafClass;
            leafClass.minor = leaf.number ? minorOf(leaf.number) : FallbackMinor;
            if (!leafClass.minor)
                continue;
            leafClass.ceil = ceilingOf(cap, d.global);
            leafClass.prio = prioOf(leaf.rule.weight);
            leafClass.quantum = Quantum;
            leafClasses.append(leafClass);
            bwc_app_rule* rule = leaf.number ? &plan.rules[leaf.number] : &plan.fallback;
            rule->*d.minor = leafClass.minor;
        }
        if (d.global > 0) {
            HtbShaper::ClassParams other;
            other.minor = OtherMinor;
            other.ceil = quint64(d.global);
            other.prio = prioOf(ShapingPolicy::weightOf(Limits::PriorityNormal, false));
            other.quantum = Quantum;
            leafClasses.append(other);
            d.tree->catchesAll = true;
        }
        if (leafClasses.isEmpty())
            continue;
        d.tree->needed = true;
        d.tree->root.minor = HtbShaper::RootMinor;
        d.tree->root.rate = d.tree->root.ceil = d.global > 0 ? quint64(d.global) : Unlimited;
        d.tree->root.quantum = Quantum;
        const quint64 guaranteed =
            d.global > 0
                ? std::max<quint64>(
                      quint64(d.global) / GuaranteedDivisor / quint64(leafClasses.size()), 1)
                : 0;
        for (HtbShaper::ClassParams& leafClass : leafClasses)
            leafClass.rate =
                guaranteed ? std::min<quint64>(guaranteed, leafClass.ceil) : leafClass.ceil;
        std::sort(leafClasses.begin(), leafClasses.end(),
                  [](const auto& a, const auto& b) { return a.minor < b.minor; });
        d.tree->leaves = leafClasses;
    }
    return plan;
}
