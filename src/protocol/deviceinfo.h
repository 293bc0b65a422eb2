#pragma once

#include "records.h"

#include <QList>
#include <QSharedData>
#include <QString>

class FieldVisitor;

// One network device as the service lists it.
class DeviceInfo : public QSharedData
{
public:
    virtual ~DeviceInfo() = default;

    quint32 number = 0;
    quint32 deviceId = 0;
    QString textA;
    QString textB;
    QList<bool> flags;

    void VisitFields(FieldVisitor& visitor);
};
