#pragma once

#include "hostexport.h"

#include <QString>

// Conversions between bits per second, the unit every rate is kept in, and the
// six display units: 0 "MBps", 1 "Mbps", 2 "KBps", 3 "Kbps", 4 "Bps", 5 "bps".
// Unit 4 (bytes per second) is also the unit the service speaks. The value
// 0xFFFFFFFF stands for "no limit" and passes every conversion unchanged. An
// index outside the table converts to 0 and has empty names.
class BWCHOST_EXPORT UnitConvert
{
public:
    enum Unit : quint32
    {
        MegaBytes = 0,
        MegaBits = 1,
        KiloBytes = 2,
        KiloBits = 3,
        Bytes = 4,
        Bits = 5,
        UnitCount = 6
    };

    static constexpr quint32 NoLimit = 0xFFFFFFFFu;
    static constexpr quint32 LargestRate = 0x7FFFFFFFu;

    // Whole number of units in nBPS (unsigned integer division).
    static quint32 BPStoUINT(quint32 nBPS, quint32 nUnit);
    // The same as a fraction.
    static double BPStoDouble(quint32 nBPS, quint32 nUnit);
    // Bits per second for nValue units. A result that does not fit saturates at
    // LargestRate instead of wrapping, so an overflow can neither shrink a
    // limit nor turn it into a code: limits are signed, and -1 ("no limit") and
    // -2 ("the default applies") are reserved.
    static quint32 BPSfromUINT(quint32 nValue, quint32 nUnit);

    // Short name without the trailing "ps" ("MB", "Mb", "KB", "Kb", "B", "b").
    static void getString(QString& strName, quint32 nUnit);
    // Long name ("Megabytes per second", ...), translated.
    static void getFullString(QString& strName, quint32 nUnit);
};
