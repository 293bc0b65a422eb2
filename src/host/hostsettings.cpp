#include "hostsettings.h"

#include "translatesuitename.h"

#include <QSettings>

QString HostSettings::organizationName()
{
    return QStringLiteral("Corvid Networks");
}

QSettings* HostSettings::create(QObject* parent)
{
    return new QSettings(QSettings::IniFormat, QSettings::SystemScope, organizationName(),
                         TranslateSuiteName::GetSuiteNameShort(), parent);
}

void HostSettings::useSystemScopeFolder(const QString& strFolder)
{
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, strFolder);
}
