#pragma once

// Extensions of this service beyond the module's commands, for its own
// clients (bwcctl): the module never sends them and never receives them.

#include "bwcentry.h"
#include "bwctotalsentry.h"
#include "commanddecl.h"

// Every application the enumeration lists, from the one at index first on,
// with names, rates and totals: as many as fit one frame; next is the index
// to ask from for the rest, 0 when the list is complete. The machine's
// network rates and totals come with every page.
#define BWC_FIELDS_BWCAppTotals(F)                                                                 \
    F(quint32, first, setFirst, 0)                                                                 \
    F(quint32, next, setNext, 0)                                                                   \
    F(quint32, sentRate, setSentRate, 0)                                                           \
    F(quint32, receivedRate, setReceivedRate, 0)                                                   \
    F(quint64, sent, setSent, 0)                                                                   \
    F(quint64, received, setReceived, 0)                                                           \
    F(QList<BWCTotalsEntryPtr>, apps, setApps, {})
// Totals since reset start again from 0 (those since the start stay).
#define BWC_FIELDS_BWCResetTotals BWC_NO_FIELDS

#define BWC_EXTENSION_COMMANDS(X)                                                                  \
    X(BWCAppTotals, 0x40001)                                                                       \
    X(BWCResetTotals, 0x40002)

BWC_EXTENSION_COMMANDS(BWC_DECLARE_LISTED)
