#pragma once

#include "hostexport.h"

#include <QString>

// The suite's own name. The short form doubles as the application name under
// which every part of the suite keeps its settings, so it is never translated.
class BWCHOST_EXPORT TranslateSuiteName
{
public:
    static QString GetSuiteNameShort();
    // The name as shown to people, translated.
    static QString GetSuiteName();
};
