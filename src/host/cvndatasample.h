#pragma once

#include "cvntimestamp.h"
#include "hostexport.h"

#include <QMetaType>
#include <QVariant>

// One value of a data source with the time it was taken. Samples are small
// values, copied through queued signals; readers use the members directly.
class BWCHOST_EXPORT CVNDataSample
{
public:
    CVNDataSample() = default;
    // A sample of value taken now.
    explicit CVNDataSample(const QVariant& value);
    CVNDataSample(const CVNTimeStamp& stamp, const QVariant& value) : timestamp(stamp), value(value)
    {}

    // A sample that carries no value (a source that never got one).
    bool isNull() const { return !value.isValid(); }

    CVNTimeStamp timestamp;
    QVariant value;
};

Q_DECLARE_METATYPE(CVNDataSample)
