#pragma once

#include "bwcentry.h"
#include "records.h"

#include <QSharedData>
#include <QString>

class FieldVisitor;

// One application with everything a client shows of it in one record: its
// entry as the enumeration lists it, the name people know it by, its rates
// and what it moved. Bytes are counted by the service from the start, and
// since totals were last reset; local traffic never left the machine and is
// not in the network figures.
class BWCTotalsEntry : public QSharedData
{
public:
    virtual ~BWCTotalsEntry() = default;

    BWCEntryPtr entry;
    QString name;
    quint32 sentRate = 0; // bytes per second
    quint32 receivedRate = 0;
    quint32 localSentRate = 0;
    quint32 localReceivedRate = 0;
    quint64 sent = 0;
    quint64 received = 0;
    quint64 localSent = 0;
    quint64 localReceived = 0;
    quint64 sentSinceReset = 0;
    quint64 receivedSinceReset = 0;
    quint64 localSentSinceReset = 0;
    quint64 localReceivedSinceReset = 0;

    // Visits the members in wire order; the stream reader and writer use it too.
    template <class V> void VisitMembers(V&& v)
    {
        v("entry", entry), v("name", name);
        v("sentRate", sentRate), v("receivedRate", receivedRate);
        v("localSentRate", localSentRate), v("localReceivedRate", localReceivedRate);
        v("sent", sent), v("received", received);
        v("localSent", localSent), v("localReceived", localReceived);
        v("sentSinceReset", sentSinceReset), v("receivedSinceReset", receivedSinceReset);
        v("localSentSinceReset", localSentSinceReset);
        v("localReceivedSinceReset", localReceivedSinceReset);
    }
    void VisitFields(FieldVisitor& visitor);
};
