#include "appdirectory.h"

#include "commands.h"
#include "servicesession.h"
#include "terminaltext.h"

#include <QMap>

bool AppDirectory::load(ServiceSession& session, QString* error, bool* timedOut)
{
    m_apps.clear();
    m_byId.clear();
    m_hasTotals = false;
    m_machine = Machine();
    bool supported = true;
    const bool loaded = loadTotals(session, error, timedOut, &supported) ||
                        (!supported && loadEnumerated(session, error, timedOut));
    if (!loaded)
        return false;
    std::sort(m_apps.begin(), m_apps.end(), [](const App& a, const App& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    for (qsizetype i = 0; i < m_apps.size(); ++i)
        m_byId.insert(m_apps[i].entry->id, i);
    return true;
}

bool AppDirectory::loadTotals(ServiceSession& session, QString* error, bool* timedOut,
                              bool* supported)
{
    QHash<QString, qsizetype> seen; // an application a page repeats is listed once
    quint32 first = 0;
    do {
        auto* request = new BCI_BWCAppTotals;
        request->setFirst(first);
        const BaseCommandPtr asked(request);
        BaseCommandPtr reply;
        if (first == 0) {
            // A service that does not know the request drops it unanswered;
            // it answers in order, so a later request's reply tells.
            const BaseCommandPtr marker(new BCI_BWCGetGlobals);
            session.send(asked);
            session.send(marker);
            if (!session.wait(marker, error, timedOut))
                return false;
            reply = session.takeIfAnswered(asked);
            if (!reply) {
                *supported = false;
                return false;
            }
        } else {
            reply = session.ask(asked, error, timedOut);
        }
        if (!reply)
            return false;
        auto* page = command_cast<BCI_BWCAppTotals>(reply);
        if (!page || page->GetStatus() != BCS_SUCCESS) {
            *supported = first > 0; // a service that answered once knows it
            if (*supported)
                *error = QStringLiteral("the service refused to list applications (%1)")
                             .arg(QLatin1String(StatusName(reply->GetStatus())));
            return false;
        }
        for (const BWCTotalsEntryPtr& record : page->apps()) {
            if (!record || !record->entry)
                continue;
            const App app{record->entry,
                          record->name.isEmpty() ? fileName(record->entry->path) : record->name,
                          record};
            const auto known = seen.constFind(record->entry->id);
            if (known != seen.constEnd()) {
                m_apps[*known] = app;
            } else {
                seen.insert(record->entry->id, m_apps.size());
                m_apps.append(app);
            }
        }
        m_machine = {page->sentRate(), page->receivedRate(), page->sent(), page->received()};
        // A service that pointed backwards would be asked forever.
        if (page->next() != 0 && page->next() <= first) {
            *error = QStringLiteral("the service listed applications out of order");
            return false;
        }
        first = page->next();
    } while (first != 0);
    m_hasTotals = true;
    return true;
}

bool AppDirectory::loadEnumerated(ServiceSession& session, QString* error, bool* timedOut)
{
    const BaseCommandPtr enumeration(new BCI_BWCEnumApps);
    // The service announces what does not fit the enumeration's reply right
    // after it; the reply to a second request marks the end of those.
    const BaseCommandPtr marker(new BCI_BWCGetGlobals);
    session.send(enumeration);
    session.send(marker);
    const BaseCommandPtr listed = session.wait(enumeration, error, timedOut);
    if (!listed || !session.wait(marker, error, timedOut))
        return false;
    if (listed->GetStatus() != BCS_SUCCESS) {
        *error = QStringLiteral("the service refused to list applications (%1)")
                     .arg(QLatin1String(StatusName(listed->GetStatus())));
        return false;
    }
    QMap<QString, BWCEntryPtr> entries; // by id, the latest word wins
    for (const BWCEntryPtr& entry : command_cast<BCI_BWCEnumApps>(listed)->apps())
        entries.insert(entry->id, entry);
    for (const BaseCommandPtr& broadcast : session.takeBroadcasts()) {
        if (auto* added = command_cast<BCI_BWCAppAdded>(broadcast); added && added->entry())
            entries.insert(added->entry()->id, added->entry());
    }

    QList<BaseCommandPtr> questions;
    for (const BWCEntryPtr& entry : std::as_const(entries)) {
        auto* question = new BCI_GetProcessInfo;
        question->setPath(entry->path);
        questions.append(BaseCommandPtr(question));
        session.send(questions.last());
    }
    int i = 0;
    for (const BWCEntryPtr& entry : std::as_const(entries)) {
        const BaseCommandPtr answer = session.wait(questions[i++], error, timedOut);
        if (!answer)
            return false;
        QString name;
        if (auto* info = command_cast<BCI_GetProcessInfo>(answer);
            info && info->GetStatus() == BCS_SUCCESS)
            name = info->process().description;
        m_apps.append({entry, name.isEmpty() ? fileName(entry->path) : name, {}});
    }
    return true;
}

const AppDirectory::App* AppDirectory::byId(const QString& id) const
{
    const auto it = m_byId.constFind(id);
    return it == m_byId.constEnd() ? nullptr : &m_apps[*it];
}

const AppDirectory::App* AppDirectory::find(const QString& query, QString* error) const
{
    const auto same = [&](const QString& text) {
        return text.compare(query, Qt::CaseInsensitive) == 0;
    };
    QList<const App*> exact, partial;
    for (const App& app : m_apps) {
        if (same(app.name) || same(app.entry->path) || same(fileName(app.entry->path)))
            exact.append(&app);
        else if (app.name.contains(query, Qt::CaseInsensitive) ||
                 app.entry->path.contains(query, Qt::CaseInsensitive))
            partial.append(&app);
    }
    const QList<const App*>& found = exact.isEmpty() ? partial : exact;
    if (found.size() == 1)
        return found.first();
    if (found.isEmpty()) {
        *error = QStringLiteral("no application matches \"%1\" (\"bwcctl apps\" lists them)")
                     .arg(TerminalText::escape(query));
        return nullptr;
    }
    QStringList names;
    for (const App* app : found.mid(0, 8))
        names.append(
            QStringLiteral("\"%1\" (%2)")
                .arg(TerminalText::escape(app->name), TerminalText::escape(app->entry->path)));
    if (found.size() > 8)
        names.append(QStringLiteral("and %1 more").arg(found.size() - 8));
    *error = QStringLiteral("\"%1\" is ambiguous; it matches %2")
                 .arg(TerminalText::escape(query), names.join(QStringLiteral(", ")));
    return nullptr;
}

QString AppDirectory::fileName(const QString& path)
{
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}
