#pragma once

#include "simulatedapp.h"

#include <QList>

// Invents the applications of a simulated machine. The same seed and count
// always give the same applications with the same ids, so settings stored
// against them survive a restart.
class AppCatalog
{
public:
    static QList<SimulatedApp> generate(quint32 seed, int count);

    // The stable key of an executable path: a hash of its lower-case form.
    static QString idForPath(const QString& path);
};
