#include "scaletext.h"

#include "unitconvert.h"

namespace ScaleText {

QString format(quint32 nBPS, quint32 nUnit)
{
    const quint32 whole = UnitConvert::BPStoUINT(nBPS, nUnit);
    if (whole < 1)
        return QString::asprintf("%.3f", UnitConvert::BPStoDouble(nBPS, nUnit)).right(4);
    return QString::number(qint32(whole));
}

} // namespace ScaleText
