#pragma once

#include "bpf/enforcement.h"
#include "htbshaper.h"
#include "shapingpolicy.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

// What the kernel must hold to enforce a shaping policy: the rule each
// application's packets meet in the BPF programs, and for each direction the
// HTB tree (root class = the global maximum, one leaf per application that is
// shaped, one leaf for packets of applications without a leaf of their own).
// Pure computation, so that the choices are testable without privileges.
class EnforcementPlan
{
public:
    struct Tree
    {
        bool needed = false; // no tree: the direction is not shaped at all
        // Packets no rule puts in a class (forwarded, containers', sockets
        // outside the governed cgroup) fall into OtherMinor, under the maximum.
        bool catchesAll = false;
        HtbShaper::ClassParams root;
        QList<HtbShaper::ClassParams> leaves; // ordered by minor
    };

    // The class of packets whose application has no leaf of its own.
    static constexpr quint16 FallbackMinor = 2;
    // The class of packets of no application, the tree's default class.
    static constexpr quint16 OtherMinor = 3;
    static constexpr quint16 FirstAppMinor = 0x10;
    // Rate that stands for "no maximum" in a tree that exists for caps alone.
    static constexpr quint64 Unlimited = 100ull * 1000 * 1000 * 1000 / 8; // 100 Gbit/s
    static constexpr quint32 Quantum = 65536;
    // Share of a global maximum that every leaf is guaranteed, divided among
    // the leaves, so that the lowest priority is slowed but never starved.
    static constexpr quint64 GuaranteedDivisor = 20;
    // Pacing of a capped application's TCP sockets, per cent of the cap: above
    // it, so that the shaper and not the pacing sets the rate.
    static constexpr quint64 PacePercent = 105;

    // apps: application number -> application id, for every application that
    // may have traffic. minors: the class minor already given to an
    // application number; new ones are added, so a leaf keeps its class.
    static EnforcementPlan build(const ShapingPolicy& policy, const QMap<quint32, QString>& apps,
                                 QHash<quint32, quint16>* minors);

    bool enabled = false;
    bool lanExempt = false; // traffic with the local network passes the shaper
    bwc_app_rule fallback{};
    QMap<quint32, bwc_app_rule> rules;
    Tree upload;
    Tree download;

    // HTB's priority level for a policy weight: the highest level is served first.
    static quint32 prioOf(quint32 weight);
};
