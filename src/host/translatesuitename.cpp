#include "translatesuitename.h"

#include <QCoreApplication>

QString TranslateSuiteName::GetSuiteNameShort()
{
    return QStringLiteral("NetDeck");
}

QString TranslateSuiteName::GetSuiteName()
{
    return QCoreApplication::translate("TranslateSuiteName", "NetDeck Network Suite");
}
