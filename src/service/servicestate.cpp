#include "servicestate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace {

// A JSON number that is a whole qint32 satisfying the check, or an error.
bool readInt(const QJsonObject& object, const char* key, bool (*valid)(qint32), qint32* out,
             QString* error)
{
    const QJsonValue value = object.value(QLatin1String(key));
    const double number = value.toDouble(std::numeric_limits<double>::quiet_NaN());
    if (!value.isDouble() || number != qint64(number) ||
        number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<qint32>::max() || !valid(qint32(number))) {
        *error = QStringLiteral("\"%1\" is missing or out of range").arg(QLatin1String(key));
        return false;
    }
    *out = qint32(number);
    return true;
}

bool anyLanException(qint32 value)
{
    return value == 0 || value == 1;
}

bool readApp(const QJsonObject& object, QString* id, AppSettings* app, QString* error)
{
    *id = object.value(QLatin1String("id")).toString();
    if (id->isEmpty()) {
        *error = QStringLiteral("an application has no \"id\"");
        return false;
    }
    const QJsonValue path = object.value(QLatin1String("path"));
    const QJsonValue highest = object.value(QLatin1String("highest"));
    if (!path.isString() || !highest.isBool()) {
        *error = QStringLiteral("application %1: \"path\" or \"highest\" is missing").arg(*id);
        return false;
    }
    app->path = path.toString();
    app->highest = highest.toBool();
    QString why;
    if (!readInt(object, "uploadMax", Limits::isValidAppLimit, &app->uploadMax, &why) ||
        !readInt(object, "downloadMax", Limits::isValidAppLimit, &app->downloadMax, &why) ||
        !readInt(object, "priority", Limits::isValidAppPriority, &app->priority, &why)) {
        *error = QStringLiteral("application %1: %2").arg(*id, why);
        return false;
    }
    return true;
}

} // namespace

void ServiceState::setSettings(const QString& id, const AppSettings& settings)
{
    if (settings.followsDefaults())
        apps.remove(id);
    else
        apps.insert(id, settings);
}

QByteArray ServiceState::toJson() const
{
    QJsonArray list;
    for (auto it = apps.cbegin(); it != apps.cend(); ++it) {
        list.append(QJsonObject{
            {QStringLiteral("id"), it.key()},
            {QStringLiteral("path"), it->path},
            {QStringLiteral("uploadMax"), it->uploadMax},
            {QStringLiteral("downloadMax"), it->downloadMax},
            {QStringLiteral("priority"), it->priority},
            {QStringLiteral("highest"), it->highest},
        });
    }
    QStringList hiddenIds(hidden.cbegin(), hidden.cend());
    hiddenIds.sort();
    const QJsonObject root{
        {QStringLiteral("version"), FormatVersion},
        {QStringLiteral("enabled"), enabled},
        {QStringLiteral("globalUploadMax"), globalUploadMax},
        {QStringLiteral("globalDownloadMax"), globalDownloadMax},
        {QStringLiteral("defaultUploadMax"), defaultUploadMax},
        {QStringLiteral("defaultDownloadMax"), defaultDownloadMax},
        {QStringLiteral("defaultPriority"), defaultPriority},
        {QStringLiteral("lanException"), lanException},
        {QStringLiteral("apps"), list},
        {QStringLiteral("hidden"), QJsonArray::fromStringList(hiddenIds)},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool ServiceState::fromJson(const QByteArray& json, ServiceState* out, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON (%1 at offset %2)")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("the document is not an object");
        return false;
    }
    const QJsonObject root = document.object();
    const QJsonValue version = root.value(QLatin1String("version"));
    if (!version.isDouble() || version.toDouble() != FormatVersion) {
        *error = QStringLiteral("unsupported \"version\" (this build reads version %1)")
                     .arg(FormatVersion);
        return false;
    }
    ServiceState state;
    const QJsonValue enabled = root.value(QLatin1String("enabled"));
    const QJsonValue apps = root.value(QLatin1String("apps"));
    if (!enabled.isBool() || !apps.isArray()) {
        *error = QStringLiteral("\"enabled\" or \"apps\" is missing");
        return false;
    }
    state.enabled = enabled.toBool();
    if (!readInt(root, "globalUploadMax", Limits::isValidGlobalLimit, &state.globalUploadMax,
                 error) ||
        !readInt(root, "globalDownloadMax", Limits::isValidGlobalLimit, &state.globalDownloadMax,
                 error) ||
        !readInt(root, "defaultUploadMax", Limits::isValidDefaultLimit, &state.defaultUploadMax,
                 error) ||
        !readInt(root, "defaultDownloadMax", Limits::isValidDefaultLimit, &state.defaultDownloadMax,
                 error) ||
        !readInt(root, "defaultPriority", Limits::isValidPriority, &state.defaultPriority, error) ||
        !readInt(root, "lanException", anyLanException, &state.lanException, error)) {
        return false;
    }
    const QJsonArray list = apps.toArray();
    for (const QJsonValue& value : list) {
        QString id;
        AppSettings app;
        if (!value.isObject() || !readApp(value.toObject(), &id, &app, error)) {
            if (!value.isObject())
                *error = QStringLiteral("an entry of \"apps\" is not an object");
            return false;
        }
        if (state.apps.contains(id)) {
            *error = QStringLiteral("application %1 is listed twice").arg(id);
            return false;
        }
        state.apps.insert(id, app);
    }
    // Written by every version that hides applications; absent from older files.
    const QJsonValue hidden = root.value(QLatin1String("hidden"));
    if (!hidden.isUndefined() && !hidden.isArray()) {
        *error = QStringLiteral("\"hidden\" is not a list");
        return false;
    }
    for (const QJsonValue& value : hidden.toArray()) {
        if (!value.isString() || value.toString().isEmpty()) {
            *error = QStringLiteral("an entry of \"hidden\" is not an application id");
            return false;
        }
        state.hidden.insert(value.toString());
    }
    *out = state;
    return true;
}

bool ServiceState::operator==(const ServiceState& other) const
{
    return enabled == other.enabled && globalUploadMax == other.globalUploadMax &&
           globalDownloadMax == other.globalDownloadMax &&
           defaultUploadMax == other.defaultUploadMax &&
           defaultDownloadMax == other.defaultDownloadMax &&
           defaultPriority == other.defaultPriority && lanException == other.lanException &&
           apps == other.apps && hidden == other.hidden;
}
