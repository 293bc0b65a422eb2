#include "signallog.h"

#include "applicationsettings.h"

SignalLog::SignalLog(ApplicationSettings* s)
{
    using S = ApplicationSettings;
    auto number = [](auto value) { return QString::number(value); };
    auto flag = [](bool value) { return QString::fromLatin1(value ? "true" : "false"); };
    connect(s, &S::newDefaultUL, this, [=](qint32 v) { add("newDefaultUL", number(v)); });
    connect(s, &S::newDefaultDL, this, [=](qint32 v) { add("newDefaultDL", number(v)); });
    connect(s, &S::newDefaultPriority, this,
            [=](quint32 v) { add("newDefaultPriority", number(v)); });
    connect(s, &S::newDefaultBlock, this, [=](bool v) { add("newDefaultBlock", flag(v)); });
    connect(s, &S::newDefaultLanException, this,
            [=](bool v) { add("newDefaultLanException", flag(v)); });
    connect(s, &S::newBarFrameRate, this, [=](quint32 v) { add("newBarFrameRate", number(v)); });
    connect(s, &S::newStatSampleRate, this,
            [=](quint32 v) { add("newStatSampleRate", number(v)); });
    connect(s, &S::doResetAll, this, [=] { add("doResetAll"); });
    connect(s, &S::calledBWCEnable, this, [=](bool v) { add("calledBWCEnable", flag(v)); });
    connect(s, &S::newActiveCount, this, [=](int v) { add("newActiveCount", number(v)); });
    connect(s, &S::newInactiveCount, this, [=](int v) { add("newInactiveCount", number(v)); });
    connect(s, &S::newGlobalUL, this, [=](qint32 v) { add("newGlobalUL", number(v)); });
    connect(s, &S::newGlobalDL, this, [=](qint32 v) { add("newGlobalDL", number(v)); });
}

bool SignalLog::contains(const QString& prefix) const
{
    for (const QString& entry : entries) {
        if (entry.startsWith(prefix))
            return true;
    }
    return false;
}

void SignalLog::add(const char* name, const QString& value)
{
    entries << QStringLiteral("%1(%2)").arg(QLatin1String(name), value);
}
