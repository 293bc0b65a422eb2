#pragma once

#include "hostexport.h"

#include <QString>

class QObject;
class QSettings;

// Where the suite keeps its settings: an INI file in the system scope under
// the organisation "Corvid Networks" and the suite's short name.
class BWCHOST_EXPORT HostSettings
{
public:
    static QString organizationName();

    // The suite's settings object; the caller owns it.
    static QSettings* create(QObject* parent = nullptr);

    // Points the system scope of INI settings at strFolder for the rest of the
    // process (a normal user cannot write the system location). Call it before
    // any settings object is created; tools and tests use it, the suite itself
    // keeps the system location.
    static void useSystemScopeFolder(const QString& strFolder);
};
