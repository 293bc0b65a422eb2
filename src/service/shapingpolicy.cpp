#include "shapingpolicy.h"

ShapingPolicy::ShapingPolicy(const ServiceState& state) : m_enabled(state.enabled), m_state(state)
{}

qint64 ShapingPolicy::globalUpload() const
{
    return m_enabled ? qint64(m_state.globalUploadMax) : -1;
}

qint64 ShapingPolicy::globalDownload() const
{
    return m_enabled ? qint64(m_state.globalDownloadMax) : -1;
}

ShapingPolicy::Rule ShapingPolicy::ruleFor(const QString& id) const
{
    Rule rule;
    if (!m_enabled)
        return rule;
    const AppSettings app = m_state.settingsFor(id);
    const qint32 up =
        app.uploadMax == Limits::UseDefault ? m_state.defaultUploadMax : app.uploadMax;
    const qint32 down =
        app.downloadMax == Limits::UseDefault ? m_state.defaultDownloadMax : app.downloadMax;
    const qint32 priority =
        app.priority == Limits::UseDefault ? m_state.defaultPriority : app.priority;
    // The module shows an application with either limit at 0 as blocked in
    // both directions, so that is what blocking means here too.
    rule.blocked = up == Limits::Blocked || down == Limits::Blocked;
    rule.uploadCap = rule.blocked ? 0 : qint64(up);
    rule.downloadCap = rule.blocked ? 0 : qint64(down);
    rule.weight = weightOf(priority, app.highest);
    return rule;
}

QMap<QString, QString> ShapingPolicy::paths() const
{
    QMap<QString, QString> paths;
    for (auto it = m_state.apps.constBegin(); it != m_state.apps.constEnd(); ++it) {
        if (!it->path.isEmpty())
            paths.insert(it.key(), it->path);
    }
    return paths;
}

quint32 ShapingPolicy::weightOf(qint32 priority, bool highest)
{
    if (highest)
        return 8;
    switch (priority) {
    case Limits::PriorityHigh:
        return 4;
    case Limits::PriorityLow:
        return 1;
    default:
        return 2;
    }
}
