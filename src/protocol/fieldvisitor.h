#pragma once

#include "records.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QUuid>

class Process;

// Every C++ type that a payload field or record member can have.
#define BWC_FIELD_TYPES(X)                                                                         \
    X(bool)                                                                                        \
    X(quint16)                                                                                     \
    X(qint32)                                                                                      \
    X(quint32)                                                                                     \
    X(qint64)                                                                                      \
    X(quint64)                                                                                     \
    X(double)                                                                                      \
    X(QString)                                                                                     \
    X(QUuid)                                                                                       \
    X(QStringList)                                                                                 \
    X(QPixmap)                                                                                     \
    X(Process)                                                                                     \
    X(QList<bool>)                                                                                 \
    X(QList<quint16>)                                                                              \
    X(QList<quint32>)                                                                              \
    X(BWCEntryPtr)                                                                                 \
    X(QList<BWCEntryPtr>)                                                                          \
    X(BWCStatEntryPtr)                                                                             \
    X(QList<BWCStatEntryPtr>)                                                                      \
    X(BWCStatCpuEntryPtr)                                                                          \
    X(BWCTotalsEntryPtr)                                                                           \
    X(QList<BWCTotalsEntryPtr>)                                                                    \
    X(DeviceInfoPtr)                                                                               \
    X(QList<DeviceInfoPtr>)                                                                        \
    X(ForwardPtr)                                                                                  \
    X(QList<ForwardPtr>)

// Walks the named fields of a command or record in wire order. The stream
// reader and writer and the JSON conversions of the tools are visitors.
class FieldVisitor
{
public:
    virtual ~FieldVisitor() = default;

#define BWC_VISITOR_SLOT(T) virtual void field(const char* name, T& value) = 0;
    BWC_FIELD_TYPES(BWC_VISITOR_SLOT)
#undef BWC_VISITOR_SLOT
};
