#pragma once

#include "appsettings.h"
#include "backend.h"
#include "bwcentry.h"
#include "bwcstatentry.h"
#include "bwctotalsentry.h"

#include <QList>

class BaseCommand;

// Builds the records the service sends and keeps every frame within the
// protocol's limit by measuring the records as they will be encoded.
class ReplyBuilder
{
public:
    // Room for records in a frame that carries one list: the frame limit less
    // the header and the list's count.
    static constexpr qint64 ListBudget = 100000 - 20 - 4;

    static BWCEntryPtr entry(const Backend::App& app, const AppSettings& settings);

    // An application's record with its name, its network rates as rates()
    // gives them, and the rest from the accounting.
    static BWCTotalsEntryPtr totals(const BWCEntryPtr& entry, const QString& name,
                                    const Backend::Rate& rate, const AppAccounting& accounting);

    // Moves from the front of *entries as many as fit into budget bytes and
    // gives them; the rest stay in *entries.
    static QList<BWCEntryPtr> takeFitting(QList<BWCEntryPtr>* entries, qint64 budget);

    // The total line first, then one line per running application, as many as
    // fit; *dropped counts the lines left out.
    static QList<BWCStatEntryPtr> stats(const QList<Backend::Rate>& rates, qint64 budget,
                                        int* dropped);

    // Encoded sizes, in bytes, as the wire writers produce them.
    static qint64 encodedSize(const BWCEntryPtr& entry);
    static qint64 encodedSize(const BWCStatEntryPtr& line);
    static qint64 encodedSize(const BWCTotalsEntryPtr& record);
    // The size of the whole frame, or -1 when the command cannot be encoded.
    static qint64 frameSize(const BaseCommand* command);
};
