#include "unitconvert.h"

#include <QCoreApplication>

namespace {

struct UnitInfo
{
    quint32 bitsPerUnit;
    const char* shortName;
    const char* fullName;
};

// Decimal prefixes, as network rates are quoted; a byte is eight bits.
const UnitInfo units[UnitConvert::UnitCount] = {
    {8000000u, "MB", QT_TRANSLATE_NOOP("UnitConvert", "Megabytes per second")},
    {1000000u, "Mb", QT_TRANSLATE_NOOP("UnitConvert", "Megabits per second")},
    {8000u, "KB", QT_TRANSLATE_NOOP("UnitConvert", "Kilobytes per second")},
    {1000u, "Kb", QT_TRANSLATE_NOOP("UnitConvert", "Kilobits per second")},
    {8u, "B", QT_TRANSLATE_NOOP("UnitConvert", "Bytes per second")},
    {1u, "b", QT_TRANSLATE_NOOP("UnitConvert", "Bits per second")},
};

const UnitInfo* lookup(quint32 nUnit)
{
    return nUnit < UnitConvert::UnitCount ? &units[nUnit] : nullptr;
}

} // namespace

quint32 UnitConvert::BPStoUINT(quint32 nBPS, quint32 nUnit)
{
    if (nBPS == NoLimit)
        return nBPS;
    const UnitInfo* unit = lookup(nUnit);
    return unit ? nBPS / unit->bitsPerUnit : 0;
}

double UnitConvert::BPStoDouble(quint32 nBPS, quint32 nUnit)
{
    if (nBPS == NoLimit)
        return double(nBPS);
    const UnitInfo* unit = lookup(nUnit);
    return unit ? double(nBPS) / double(unit->bitsPerUnit) : 0.0;
}

quint32 UnitConvert::BPSfromUINT(quint32 nValue, quint32 nUnit)
{
    if (nValue == NoLimit)
        return nValue;
    const UnitInfo* unit = lookup(nUnit);
    if (!unit)
        return 0;
    const quint64 bps = quint64(nValue) * unit->bitsPerUnit;
    return bps >= LargestRate ? LargestRate : quint32(bps);
}

void UnitConvert::getString(QString& strName, quint32 nUnit)
{
    const UnitInfo* unit = lookup(nUnit);
    strName = unit ? QString::fromLatin1(unit->shortName) : QString();
}

void UnitConvert::getFullString(QString& strName, quint32 nUnit)
{
    const UnitInfo* unit = lookup(nUnit);
    strName = unit ? QCoreApplication::translate("UnitConvert", unit->fullName) : QString();
}
