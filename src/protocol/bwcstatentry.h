#pragma once

#include "records.h"

#include <QSharedData>
#include <QString>

class FieldVisitor;

// One line of live statistics: an application's rates, or the machine's totals.
class BWCStatEntry : public QSharedData
{
public:
    virtual ~BWCStatEntry() = default;

    QString id;
    quint32 sentRate = 0;
    quint32 receivedRate = 0;
    bool isTotal = false;

    void VisitFields(FieldVisitor& visitor);
};
