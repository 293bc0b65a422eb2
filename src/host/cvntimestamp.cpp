#include "cvntimestamp.h"

CVNTimeStamp CVNTimeStamp::now()
{
    return CVNTimeStamp(QDateTime::currentMSecsSinceEpoch());
}

QDateTime CVNTimeStamp::toDateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(m_msecs, Qt::UTC);
}
