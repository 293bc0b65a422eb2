#include "appdirectory.h"

#include "commands.h"
#include "servicesession.h"
#include "terminaltext.h"

#include <QMap>

bool AppDirectory::load(ServiceSession& session, QString* error, bool* timedOut)
{
    m_apps.clear();
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
        m_apps.append({entry, name.isEmpty() ? fileName(entry->path) : name});
    }
    std::sort(m_apps.begin(), m_apps.end(), [](const App& a, const App& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return true;
}

const AppDirectory::App* AppDirectory::byId(const QString& id) const
{
    for (const App& app : m_apps) {
        if (app.entry->id == id)
            return &app;
    }
    return nullptr;
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
