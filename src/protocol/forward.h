#pragma once

#include "records.h"

#include <QSharedData>
#include <QString>

class FieldVisitor;

// One port-forwarding rule of the router.
class _Forward : public QSharedData
{
public:
    virtual ~_Forward() = default;

    qint32 int0 = 0;
    qint32 int1 = 0;
    qint32 int2 = 0;
    qint32 int3 = 0;
    QString str0;
    QString str1;
    QString str2;
    QString str3;
    bool flag = false;

    void VisitFields(FieldVisitor& visitor);
};
