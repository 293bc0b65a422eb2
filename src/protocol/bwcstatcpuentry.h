#pragma once

#include "records.h"

#include <QSharedData>

class FieldVisitor;

// Firmware CPU statistics; carried, never interpreted by the module.
class BWCStatCpuEntry : public QSharedData
{
public:
    virtual ~BWCStatCpuEntry() = default;

    double value0 = 0, value1 = 0, value2 = 0, value3 = 0, value4 = 0;
    double value5 = 0, value6 = 0, value7 = 0, value8 = 0;
    quint32 count0 = 0;
    quint32 count1 = 0;

    // Visits the members in wire order; the stream reader and writer use it too.
    template <class V> void VisitMembers(V&& v)
    {
        v("value0", value0), v("value1", value1), v("value2", value2);
        v("value3", value3), v("value4", value4), v("value5", value5);
        v("value6", value6), v("value7", value7), v("value8", value8);
        v("count0", count0), v("count1", count1);
    }
    void VisitFields(FieldVisitor& visitor);
};
