#pragma once

#include "servicestate.h"

// The rules a backend enforces, resolved from the service's state: which cap
// and weight each application gets once "the default applies" is replaced by
// the defaults, and the overall maxima. With control switched off nothing is
// enforced and every application counts the same.
class ShapingPolicy
{
public:
    struct Rule
    {
        qint64 uploadCap = -1; // bytes per second, negative for none
        qint64 downloadCap = -1;
        quint32 weight = 1;
        bool blocked = false;
    };

    // Enforces nothing.
    ShapingPolicy() = default;
    explicit ShapingPolicy(const ServiceState& state);

    bool enabled() const { return m_enabled; }
    // Traffic with the local network passes every cap and maximum.
    bool lanExempt() const { return m_enabled && m_state.lanException != 0; }
    // Overall maxima in bytes per second, negative for none.
    qint64 globalUpload() const;
    qint64 globalDownload() const;

    Rule ruleFor(const QString& id) const;
    // Whether the user gave the application settings of its own.
    bool hasOwnSettings(const QString& id) const { return m_state.apps.contains(id); }
    // The path of each application with settings of its own, by id.
    QMap<QString, QString> paths() const;

    // Share of contended bandwidth per priority: highest, high, normal, low.
    static quint32 weightOf(qint32 priority, bool highest);

private:
    bool m_enabled = false;
    ServiceState m_state;
};
