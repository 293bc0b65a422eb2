#pragma once

#include "limitcodes.h"

#include <QString>

// What the user chose for one application. A fresh application has every
// field at "the default applies"; resetting an application brings it back there.
struct AppSettings
{
    QString path;
    qint32 uploadMax = Limits::UseDefault;
    qint32 downloadMax = Limits::UseDefault;
    qint32 priority = Limits::UseDefault;
    bool highest = false;

    bool followsDefaults() const
    {
        return uploadMax == Limits::UseDefault && downloadMax == Limits::UseDefault &&
               priority == Limits::UseDefault && !highest;
    }
    bool operator==(const AppSettings& other) const
    {
        return path == other.path && uploadMax == other.uploadMax &&
               downloadMax == other.downloadMax && priority == other.priority &&
               highest == other.highest;
    }
    bool operator!=(const AppSettings& other) const { return !(*this == other); }
};
