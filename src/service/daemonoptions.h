#pragma once

#include <QString>
#include <QStringList>

// bwcd's command line.
class DaemonOptions
{
public:
    quint16 port = 0; // 0: the service port of the environment
    QString backend = QStringLiteral("simulated");
    quint32 seed = 1;
    int appCount = 30;
    int speed = 1; // simulated seconds per second
    QString statePath; // empty: the default place
    bool wireless = false;
    // Members of this group (and root) may change settings.
    QString controlGroup = QStringLiteral("bwcontrol");
    bool verbose = false;
    bool help = false;

    static constexpr int MaxApps = 5000;
    static constexpr int MaxSpeed = 3600;

    // Parses the whole argument list (program name first). On failure gives
    // false with a one-line reason in *error.
    bool parse(const QStringList& arguments, QString* error);

    static QString usage();
};
