#pragma once

#include "appsettings.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>

// Everything the service remembers across restarts: the enabled state, the
// global maxima, the defaults and the per-application settings, all in the
// units they travel in (bytes per second for every rate).
class ServiceState
{
public:
    static constexpr int FormatVersion = 1;
    // Factory global maxima: 10 Mbit/s up, 50 Mbit/s down, in bytes per second.
    static constexpr qint32 FactoryGlobalUpload = 1250000;
    static constexpr qint32 FactoryGlobalDownload = 6250000;

    bool enabled = true;
    qint32 globalUploadMax = FactoryGlobalUpload;
    qint32 globalDownloadMax = FactoryGlobalDownload;
    qint32 defaultUploadMax = Limits::NoLimit;
    qint32 defaultDownloadMax = Limits::NoLimit;
    qint32 defaultPriority = Limits::PriorityNormal;
    qint32 lanException = 0;
    // Keyed by the application's id. Applications that follow the defaults
    // in every respect are not listed.
    QMap<QString, AppSettings> apps;
    // Applications the user hid until they are active again, by id.
    QSet<QString> hidden;

    // The settings of one application, the defaults' marker values when it has none.
    AppSettings settingsFor(const QString& id) const { return apps.value(id); }
    // Stores settings, dropping the application's record when it follows the defaults.
    void setSettings(const QString& id, const AppSettings& settings);

    QByteArray toJson() const;
    // Parses and checks a whole document; on failure gives false, says why in
    // *error and leaves *out untouched.
    static bool fromJson(const QByteArray& json, ServiceState* out, QString* error);

    bool operator==(const ServiceState& other) const;
    bool operator!=(const ServiceState& other) const { return !(*this == other); }
};
