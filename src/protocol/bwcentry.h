#pragma once

#include "records.h"

#include <QList>
#include <QSharedData>
#include <QString>

class FieldVisitor;

// One application known to bandwidth control. Fields the module never changes
// travel back to the service exactly as they came.
class BWCEntry : public QSharedData
{
public:
    virtual ~BWCEntry() = default;

    QString id;
    QList<quint32> idList;
    qint32 gid = 0;
    QList<quint16> shortListA;
    QList<quint16> shortListB;
    qint32 uploadMax = 0;
    qint32 downloadMax = 0;
    qint32 priority = 0;
    qint32 extra = 0;
    QString path;
    bool highest = false;

    // Each member once, by name (the wire repeats extra and path).
    void VisitFields(FieldVisitor& visitor);
};
