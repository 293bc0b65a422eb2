#include "replybuilder.h"

#include "framecodec.h"
#include "wireio.h"

#include <QBuffer>
#include <QDataStream>

namespace {

template <class T> qint64 measure(const T& value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_6);
    WireIO::write(stream, value);
    return bytes.size();
}

} // namespace

BWCEntryPtr ReplyBuilder::entry(const Backend::App& app, const AppSettings& settings)
{
    BWCEntryPtr entry(new BWCEntry);
    entry->id = app.id;
    entry->idList = app.pids;
    entry->gid = app.gid;
    entry->uploadMax = settings.uploadMax;
    entry->downloadMax = settings.downloadMax;
    entry->priority = settings.priority;
    entry->highest = settings.highest;
    entry->path = app.path;
    return entry;
}

BWCTotalsEntryPtr ReplyBuilder::totals(const BWCEntryPtr& entry, const QString& name,
                                       const Backend::Rate& rate, const AppAccounting& accounting)
{
    BWCTotalsEntryPtr record(new BWCTotalsEntry);
    record->entry = entry;
    record->name = name;
    record->sentRate = rate.sent;
    record->receivedRate = rate.received;
    const AppAccounting::Rates local = accounting.rates(entry->id);
    record->localSentRate = local.localSent;
    record->localReceivedRate = local.localReceived;
    const AppAccounting::Bytes total = accounting.total(entry->id);
    record->sent = total.sent;
    record->received = total.received;
    record->localSent = total.localSent;
    record->localReceived = total.localReceived;
    const AppAccounting::Bytes sinceReset = accounting.sinceReset(entry->id);
    record->sentSinceReset = sinceReset.sent;
    record->receivedSinceReset = sinceReset.received;
    record->localSentSinceReset = sinceReset.localSent;
    record->localReceivedSinceReset = sinceReset.localReceived;
    return record;
}

QList<BWCEntryPtr> ReplyBuilder::takeFitting(QList<BWCEntryPtr>* entries, qint64 budget)
{
    QList<BWCEntryPtr> fitting;
    qint64 used = 0;
    while (!entries->isEmpty()) {
        const qint64 size = encodedSize(entries->first());
        if (used + size > budget)
            break;
        used += size;
        fitting.append(entries->takeFirst());
    }
    return fitting;
}

QList<BWCStatEntryPtr> ReplyBuilder::stats(const QList<Backend::Rate>& rates, qint64 budget,
                                           int* dropped)
{
    BWCStatEntryPtr total(new BWCStatEntry);
    total->isTotal = true;
    QList<BWCStatEntryPtr> lines{total};
    qint64 used = encodedSize(total);
    *dropped = 0;
    for (const Backend::Rate& rate : rates) {
        // The totals count every application, listed or not.
        total->sentRate += rate.sent;
        total->receivedRate += rate.received;
        BWCStatEntryPtr line(new BWCStatEntry);
        line->id = rate.id;
        line->sentRate = rate.sent;
        line->receivedRate = rate.received;
        const qint64 size = encodedSize(line);
        if (used + size > budget) {
            ++*dropped;
            continue;
        }
        used += size;
        lines.append(line);
    }
    return lines;
}

qint64 ReplyBuilder::encodedSize(const BWCEntryPtr& entry)
{
    return measure(entry);
}

qint64 ReplyBuilder::encodedSize(const BWCStatEntryPtr& line)
{
    return measure(line);
}

qint64 ReplyBuilder::encodedSize(const BWCTotalsEntryPtr& record)
{
    return measure(record);
}

qint64 ReplyBuilder::frameSize(const BaseCommand* command)
{
    QByteArray frame;
    return FrameCodec::encode(command, &frame) == 0 ? frame.size() : -1;
}
