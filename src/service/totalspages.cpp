#include "totalspages.h"

#include "commands.h"
#include "replybuilder.h"
#include "servicestate.h"

#include <QtDebug>

namespace {

quint32 clamped(quint64 value)
{
    return quint32(std::min<quint64>(value, 0xFFFFFFFFu));
}

} // namespace

void TotalsPages::takePicture()
{
    m_apps = m_backend->applications();
    const QList<Backend::Rate> rates = m_backend->rates();
    const AppAccounting& accounting = m_backend->accounting();
    m_rates.clear();
    m_rates.reserve(rates.size());
    m_sentRate = m_receivedRate = m_sent = m_received = 0;
    for (const Backend::Rate& rate : rates) {
        m_rates.insert(rate.id, rate);
        m_sentRate += rate.sent;
        m_receivedRate += rate.received;
    }
    m_sent = accounting.machineTotal().sent;
    m_received = accounting.machineTotal().received;
    m_taken.start();
}

void TotalsPages::fill(BCI_BWCAppTotals* request, const ServiceState& state)
{
    if (request->first() == 0 || !m_taken.isValid() || m_taken.elapsed() > PictureLifetimeMs)
        takePicture();
    request->setSentRate(clamped(m_sentRate));
    request->setReceivedRate(clamped(m_receivedRate));
    request->setSent(m_sent);
    request->setReceived(m_received);

    // What is left of the frame once the fixed fields and the list's count are in.
    qint64 budget = ReplyBuilder::ListBudget - 4 * 4 - 2 * 8;
    QList<BWCTotalsEntryPtr> page;
    request->setNext(0);
    for (qsizetype i = request->first(); i < m_apps.size(); ++i) {
        const Backend::App& app = m_apps[i];
        if (state.hidden.contains(app.id))
            continue;
        const BWCTotalsEntryPtr record = ReplyBuilder::totals(
            ReplyBuilder::entry(app, state.settingsFor(app.id)), m_backend->displayName(app.path),
            m_rates.value(app.id, Backend::Rate{app.id, 0, 0}), m_backend->accounting());
        budget -= ReplyBuilder::encodedSize(record);
        if (budget < 0) {
            // One that fits no frame at all is left out rather than asked for forever.
            if (page.isEmpty())
                qWarning("TotalsPages::fill(): %s does not fit a frame; left out",
                         qPrintable(app.id));
            request->setNext(quint32(page.isEmpty() ? i + 1 : i));
            break;
        }
        page.append(record);
    }
    request->setApps(page);
}
