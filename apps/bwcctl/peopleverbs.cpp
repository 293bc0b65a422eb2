// The verbs for people: applications, rates, limits, priorities, the
// defaults and globals, reset and devices, as aligned tables with human
// units, or as JSON with the service's own numbers (bytes per second) for
// machines.

#include "appdirectory.h"
#include "commands.h"
#include "ratetext.h"
#include "servicesession.h"
#include "terminaltext.h"
#include "texttable.h"
#include "verbs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

int fail(CtlContext& c, const QString& message, int code)
{
    c.err << "bwcctl: " << message << '\n';
    c.err.flush();
    return code;
}

void printJson(CtlContext& c, const QJsonValue& value)
{
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    c.out << document.toJson(QJsonDocument::Compact) << '\n';
    c.out.flush();
}

QString priorityText(qint32 priority, bool highest)
{
    if (highest)
        return QStringLiteral("1 - Highest");
    switch (priority) {
    case 1:
        return QStringLiteral("2 - High");
    case 2:
        return QStringLiteral("3 - Normal");
    case 3:
        return QStringLiteral("4 - Low");
    case -2:
        return QStringLiteral("default");
    default:
        return QString::number(priority);
    }
}

QJsonObject entryJson(const AppDirectory::App& app)
{
    QJsonArray pids;
    for (quint32 pid : std::as_const(app.entry->idList))
        pids.append(qint64(pid));
    return QJsonObject{{"name", app.name},
                       {"id", app.entry->id},
                       {"path", app.entry->path},
                       {"running", !app.entry->idList.isEmpty()},
                       {"pids", pids},
                       {"uploadMax", app.entry->uploadMax},
                       {"downloadMax", app.entry->downloadMax},
                       {"priority", app.entry->priority},
                       {"highest", app.entry->highest}};
}

// A connection to the service, with the failures of a request turned into
// messages and exit codes.
class Conversation
{
public:
    explicit Conversation(CtlContext& context)
        : m_context(context), m_session(context.port, context.timeoutMs)
    {}

    // The reply when the service accepted the request; null (with the
    // message printed and *code set) otherwise.
    template <class T> T* ask(T* request, int* code)
    {
        const BaseCommandPtr command(request);
        QString error;
        bool timedOut = false;
        const BaseCommandPtr reply = m_session.ask(command, &error, &timedOut);
        if (!reply) {
            *code = fail(m_context, error, timedOut ? ExitTimeout : ExitFailure);
            return nullptr;
        }
        if (reply->GetStatus() != BCS_SUCCESS) {
            const char* status = StatusName(reply->GetStatus());
            *code =
                fail(m_context,
                     QStringLiteral("the service refused %1 (%2)")
                         .arg(QLatin1String(reply->GetName()),
                              status ? QLatin1String(status) : QString::number(reply->GetStatus())),
                     ExitFailure);
            return nullptr;
        }
        m_keep.append(reply);
        return command_cast<T>(reply);
    }

    bool loadApps(AppDirectory* directory, int* code)
    {
        QString error;
        bool timedOut = false;
        if (directory->load(m_session, &error, &timedOut))
            return true;
        *code = fail(m_context, error, timedOut ? ExitTimeout : ExitFailure);
        return false;
    }

private:
    CtlContext& m_context;
    ServiceSession m_session;
    QList<BaseCommandPtr> m_keep;
};

// Every listed instance of the application (same name and path), as the
// module treats them.
QList<const AppDirectory::App*> instancesOf(const AppDirectory& directory,
                                            const AppDirectory::App& app)
{
    QList<const AppDirectory::App*> list;
    for (const AppDirectory::App& other : directory.apps()) {
        if (other.name == app.name && other.entry->path == app.entry->path)
            list.append(&other);
    }
    return list;
}

using EntryChange = void (*)(BWCEntry& entry, qint32 value);

// The common course of limit, block, allow and priority: find the
// application, change each instance's entry, send it, report the result.
int changeApp(CtlContext& c, const QString& query, EntryChange change, qint32 value,
              const QString& done)
{
    Conversation conversation(c);
    AppDirectory directory;
    int code = ExitOk;
    if (!conversation.loadApps(&directory, &code))
        return code;
    QString error;
    const AppDirectory::App* app = directory.find(query, &error);
    if (!app)
        return fail(c, error, ExitUsage);
    QJsonArray results;
    for (const AppDirectory::App* instance : instancesOf(directory, *app)) {
        BWCEntryPtr entry(new BWCEntry(*instance->entry));
        change(*entry, value);
        auto* request = new BCI_BWCSetAppSettings;
        request->setEntry(entry);
        auto* reply = conversation.ask(request, &code);
        if (!reply)
            return code;
        results.append(entryJson({reply->entry(), instance->name, {}}));
    }
    if (c.json)
        printJson(c, results.size() == 1 ? results.first() : QJsonValue(results));
    else
        c.out << TerminalText::escape(app->name) << ": " << done << '\n';
    return ExitOk;
}

int requireArgs(CtlContext& c, int count, const char* usage)
{
    if (c.args.size() == count)
        return ExitOk;
    return fail(c, QStringLiteral("usage: bwcctl %1").arg(QLatin1String(usage)), ExitUsage);
}

// Every application that runs or moved something: rates, and what it moved
// since the service started (and since totals were reset), local traffic
// apart from the network's.
int printTotals(CtlContext& c, const AppDirectory& directory)
{
    QList<BWCTotalsEntryPtr> lines;
    for (const AppDirectory::App& app : directory.apps()) {
        const BWCTotalsEntry& t = *app.totals;
        if (!app.entry->idList.isEmpty() || t.sentRate || t.receivedRate || t.sent || t.received ||
            t.localSent || t.localReceived)
            lines.append(app.totals);
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
        const quint64 rateA = quint64(a->sentRate) + a->receivedRate;
        const quint64 rateB = quint64(b->sentRate) + b->receivedRate;
        if (rateA != rateB)
            return rateA > rateB;
        return a->sent + a->received > b->sent + b->received;
    });
    const AppDirectory::Machine& machine = directory.machine();
    if (c.json) {
        QJsonArray list;
        for (const BWCTotalsEntryPtr& t : std::as_const(lines)) {
            const AppDirectory::App* app = directory.byId(t->entry->id);
            list.append(
                QJsonObject{{"name", app ? app->name : t->name},
                            {"id", t->entry->id},
                            {"running", !t->entry->idList.isEmpty()},
                            {"sent", qint64(t->sentRate)},
                            {"received", qint64(t->receivedRate)},
                            {"localSent", qint64(t->localSentRate)},
                            {"localReceived", qint64(t->localReceivedRate)},
                            {"sentTotal", qint64(t->sent)},
                            {"receivedTotal", qint64(t->received)},
                            {"localSentTotal", qint64(t->localSent)},
                            {"localReceivedTotal", qint64(t->localReceived)},
                            {"sentSinceReset", qint64(t->sentSinceReset)},
                            {"receivedSinceReset", qint64(t->receivedSinceReset)},
                            {"localSentSinceReset", qint64(t->localSentSinceReset)},
                            {"localReceivedSinceReset", qint64(t->localReceivedSinceReset)}});
        }
        printJson(c,
                  QJsonObject{{"apps", list},
                              {"total", QJsonObject{{"sent", qint64(machine.sentRate)},
                                                    {"received", qint64(machine.receivedRate)},
                                                    {"sentTotal", qint64(machine.sent)},
                                                    {"receivedTotal", qint64(machine.received)}}}});
        return ExitOk;
    }
    TextTable table({"NAME", "UP", "DOWN", "SENT", "RECEIVED", "LOCAL SENT", "LOCAL RECEIVED"});
    for (int column = 1; column <= 6; ++column)
        table.alignRight(column);
    for (const BWCTotalsEntryPtr& t : std::as_const(lines)) {
        const AppDirectory::App* app = directory.byId(t->entry->id);
        table.addRow({app ? app->name : t->name, RateText::format(t->sentRate),
                      RateText::format(t->receivedRate), RateText::formatBytes(t->sent),
                      RateText::formatBytes(t->received), RateText::formatBytes(t->localSent),
                      RateText::formatBytes(t->localReceived)});
    }
    table.addRow({"TOTAL", RateText::format(machine.sentRate),
                  RateText::format(machine.receivedRate), RateText::formatBytes(machine.sent),
                  RateText::formatBytes(machine.received), "", ""});
    table.print(c.out);
    return ExitOk;
}

} // namespace

int RunApps(CtlContext& c)
{
    if (const int code = requireArgs(c, 0, "apps"))
        return code;
    Conversation conversation(c);
    AppDirectory directory;
    int code = ExitOk;
    if (!conversation.loadApps(&directory, &code))
        return code;
    if (c.json) {
        QJsonArray list;
        for (const AppDirectory::App& app : directory.apps())
            list.append(entryJson(app));
        printJson(c, list);
        return ExitOk;
    }
    TextTable table({"NAME", "STATE", "UPLOAD", "DOWNLOAD", "PRIORITY", "PATH"});
    table.alignRight(2);
    table.alignRight(3);
    for (const AppDirectory::App& app : directory.apps()) {
        const int instances = int(app.entry->idList.size());
        const QString state = instances == 0   ? QStringLiteral("stopped")
                              : instances == 1 ? QStringLiteral("running")
                                               : QStringLiteral("running (%1)").arg(instances);
        table.addRow({app.name, state, RateText::formatLimit(app.entry->uploadMax),
                      RateText::formatLimit(app.entry->downloadMax),
                      priorityText(app.entry->priority, app.entry->highest), app.entry->path});
    }
    table.print(c.out);
    return ExitOk;
}

int RunStats(CtlContext& c)
{
    if (const int code = requireArgs(c, 0, "stats"))
        return code;
    Conversation conversation(c);
    AppDirectory directory;
    int code = ExitOk;
    if (!conversation.loadApps(&directory, &code))
        return code;
    if (directory.hasTotals())
        return printTotals(c, directory);
    auto* reply = conversation.ask(new BCI_BWCStats, &code);
    if (!reply)
        return code;
    BWCStatEntryPtr total;
    QList<BWCStatEntryPtr> lines;
    for (const BWCStatEntryPtr& line : reply->stats()) {
        if (line->isTotal)
            total = line;
        else
            lines.append(line);
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
        return quint64(a->sentRate) + a->receivedRate > quint64(b->sentRate) + b->receivedRate;
    });
    const auto nameOf = [&](const QString& id) {
        const AppDirectory::App* app = directory.byId(id);
        return app ? app->name : id;
    };
    if (c.json) {
        QJsonArray list;
        for (const BWCStatEntryPtr& line : std::as_const(lines))
            list.append(QJsonObject{{"name", nameOf(line->id)},
                                    {"id", line->id},
                                    {"sent", qint64(line->sentRate)},
                                    {"received", qint64(line->receivedRate)}});
        QJsonObject result{{"apps", list}};
        if (total)
            result.insert("total", QJsonObject{{"sent", qint64(total->sentRate)},
                                               {"received", qint64(total->receivedRate)}});
        printJson(c, result);
        return ExitOk;
    }
    TextTable table({"NAME", "UP", "DOWN"});
    table.alignRight(1);
    table.alignRight(2);
    for (const BWCStatEntryPtr& line : std::as_const(lines))
        table.addRow({nameOf(line->id), RateText::format(line->sentRate),
                      RateText::format(line->receivedRate)});
    if (total)
        table.addRow(
            {"TOTAL", RateText::format(total->sentRate), RateText::format(total->receivedRate)});
    table.print(c.out);
    return ExitOk;
}

int RunResetTotals(CtlContext& c)
{
    if (const int code = requireArgs(c, 0, "reset-totals"))
        return code;
    Conversation conversation(c);
    int code = ExitOk;
    if (!conversation.ask(new BCI_BWCResetTotals, &code))
        return code;
    if (c.json)
        printJson(c, QJsonObject{{"reset", true}});
    else
        c.out << "totals since reset start again from 0\n";
    return ExitOk;
}

int RunLimit(CtlContext& c)
{
    if (const int code = requireArgs(c, 3, "limit APP up|down RATE"))
        return code;
    const QString direction = c.args.at(1).toLower();
    const bool up = direction == QLatin1String("up") || direction == QLatin1String("upload");
    const bool down = direction == QLatin1String("down") || direction == QLatin1String("download");
    if (!up && !down)
        return fail(
            c, QStringLiteral("the direction is \"up\" or \"down\", not \"%1\"").arg(c.args.at(1)),
            ExitUsage);
    qint32 rate = 0;
    QString error;
    if (!RateText::parse(c.args.at(2), &rate, &error))
        return fail(c, error, ExitUsage);
    // A limit on a blocked application lifts the block in the other direction,
    // which would otherwise keep it blocked.
    const EntryChange change = up ? EntryChange([](BWCEntry& e, qint32 v) {
        e.uploadMax = v;
        if (e.downloadMax == 0)
            e.downloadMax = -2;
    })
                                  : EntryChange([](BWCEntry& e, qint32 v) {
                                        e.downloadMax = v;
                                        if (e.uploadMax == 0)
                                            e.uploadMax = -2;
                                    });
    return changeApp(c, c.args.at(0), change, rate,
                     QStringLiteral("%1 limit %2")
                         .arg(up ? QStringLiteral("upload") : QStringLiteral("download"),
                              RateText::formatLimit(rate)));
}

int RunBlock(CtlContext& c)
{
    if (const int code = requireArgs(c, 1, "block APP"))
        return code;
    return changeApp(
        c, c.args.at(0), [](BWCEntry& e, qint32) { e.uploadMax = e.downloadMax = 0; }, 0,
        QStringLiteral("blocked"));
}

int RunAllow(CtlContext& c)
{
    if (const int code = requireArgs(c, 1, "allow APP"))
        return code;
    return changeApp(
        c, c.args.at(0), [](BWCEntry& e, qint32) { e.uploadMax = e.downloadMax = -2; }, 0,
        QStringLiteral("allowed (the default limits apply)"));
}

int RunPriority(CtlContext& c)
{
    if (const int code = requireArgs(c, 2, "priority APP 1..4"))
        return code;
    bool ok = false;
    const int choice = c.args.at(1).toInt(&ok);
    if (!ok || choice < 1 || choice > 4)
        return fail(c,
                    QStringLiteral("the priority is 1 (highest), 2 (high), 3 (normal) or 4 (low), "
                                   "not \"%1\"")
                        .arg(c.args.at(1)),
                    ExitUsage);
    return changeApp(
        c, c.args.at(0),
        [](BWCEntry& e, qint32 v) {
            e.highest = v == 1;
            e.priority = v == 1 ? 1 : v - 1;
        },
        choice,
        QStringLiteral("priority %1").arg(priorityText(choice == 1 ? 1 : choice - 1, choice == 1)));
}

namespace {

int switchControl(CtlContext& c, bool on)
{
    if (const int code = requireArgs(c, 0, on ? "enable" : "disable"))
        return code;
    Conversation conversation(c);
    int code = ExitOk;
    const bool done = on ? conversation.ask(new BCI_BWCStart, &code) != nullptr
                         : conversation.ask(new BCI_BWCStop, &code) != nullptr;
    if (!done)
        return code;
    if (c.json)
        printJson(c, QJsonObject{{"enabled", on}});
    else
        c.out << "bandwidth control is " << (on ? "on" : "off") << '\n';
    return ExitOk;
}

} // namespace

int RunEnable(CtlContext& c)
{
    return switchControl(c, true);
}

int RunDisable(CtlContext& c)
{
    return switchControl(c, false);
}

int RunDefaults(CtlContext& c)
{
    const ParsedArgs parsed = ParseVerbArgs(c.args, {"up", "down", "priority"}, {"block", "allow"});
    if (!parsed.error.isEmpty())
        return fail(c, parsed.error, ExitUsage);
    if (!parsed.positional.isEmpty())
        return fail(c, QStringLiteral("unexpected argument \"%1\"").arg(parsed.positional.first()),
                    ExitUsage);
    const bool block = parsed.flags.contains("block");
    const bool allow = parsed.flags.contains("allow");
    const bool rates = parsed.values.contains("up") || parsed.values.contains("down");
    if (block && (allow || rates))
        return fail(c, "--block cannot go with --allow, --up or --down", ExitUsage);
    qint32 up = 0, down = 0, priority = 0;
    QString error;
    if (parsed.values.contains("up") && !RateText::parse(parsed.values.value("up"), &up, &error))
        return fail(c, error, ExitUsage);
    if (parsed.values.contains("down") &&
        !RateText::parse(parsed.values.value("down"), &down, &error))
        return fail(c, error, ExitUsage);
    if (parsed.values.contains("priority")) {
        bool ok = false;
        const int choice = parsed.values.value("priority").toInt(&ok);
        if (!ok || choice < 2 || choice > 4)
            return fail(c, "a default priority is 2 (high), 3 (normal) or 4 (low)", ExitUsage);
        priority = choice - 1;
    }

    Conversation conversation(c);
    int code = ExitOk;
    auto* current = conversation.ask(new BCI_BWCGetDefaults, &code);
    if (!current)
        return code;
    qint32 newUp = current->defaultUploadMax(), newDown = current->defaultDownloadMax();
    qint32 newPriority = current->defaultPriority(), lan = current->lanException();
    if (!parsed.values.isEmpty() || block || allow) {
        if (block)
            newUp = newDown = 0;
        if (allow)
            newUp = newDown = -1; // as the features panel does
        if (parsed.values.contains("up"))
            newUp = up;
        if (parsed.values.contains("down"))
            newDown = down;
        if (priority)
            newPriority = priority;
        auto* request = new BCI_BWCSetDefaults;
        request->setDefaultUploadMax(newUp);
        request->setDefaultDownloadMax(newDown);
        request->setDefaultPriority(newPriority);
        request->setLanException(lan);
        auto* reply = conversation.ask(request, &code);
        if (!reply)
            return code;
        newUp = reply->defaultUploadMax();
        newDown = reply->defaultDownloadMax();
        newPriority = reply->defaultPriority();
        lan = reply->lanException();
    }
    const bool blocked = newUp == 0 && newDown == 0;
    if (c.json) {
        printJson(c, QJsonObject{{"uploadMax", newUp},
                                 {"downloadMax", newDown},
                                 {"priority", newPriority},
                                 {"blocked", blocked},
                                 {"lanException", lan != 0}});
        return ExitOk;
    }
    TextTable table({"DEFAULT", "VALUE"});
    table.addRow({"upload limit", RateText::formatLimit(newUp)});
    table.addRow({"download limit", RateText::formatLimit(newDown)});
    table.addRow({"priority", priorityText(newPriority, false)});
    table.addRow({"new applications", blocked ? "blocked" : "allowed"});
    table.addRow({"LAN exception", lan ? "yes" : "no"});
    table.print(c.out);
    return ExitOk;
}

int RunGlobals(CtlContext& c)
{
    const ParsedArgs parsed = ParseVerbArgs(c.args, {"up", "down"});
    if (!parsed.error.isEmpty())
        return fail(c, parsed.error, ExitUsage);
    if (!parsed.positional.isEmpty())
        return fail(c, QStringLiteral("unexpected argument \"%1\"").arg(parsed.positional.first()),
                    ExitUsage);
    qint32 up = 0, down = 0;
    QString error;
    if (parsed.values.contains("up") && !RateText::parse(parsed.values.value("up"), &up, &error))
        return fail(c, error, ExitUsage);
    if (parsed.values.contains("down") &&
        !RateText::parse(parsed.values.value("down"), &down, &error))
        return fail(c, error, ExitUsage);

    Conversation conversation(c);
    int code = ExitOk;
    auto* globals = conversation.ask(new BCI_BWCGetGlobals, &code);
    if (!globals)
        return code;
    qint32 newUp = globals->globalUploadMax(), newDown = globals->globalDownloadMax();
    if (!parsed.values.isEmpty()) {
        auto* request = new BCI_BWCSetGlobals;
        request->setGlobalUploadMax(parsed.values.contains("up") ? up : newUp);
        request->setGlobalDownloadMax(parsed.values.contains("down") ? down : newDown);
        auto* reply = conversation.ask(request, &code);
        if (!reply)
            return code;
        newUp = reply->globalUploadMax();
        newDown = reply->globalDownloadMax();
    }
    if (c.json) {
        printJson(c, QJsonObject{{"enabled", globals->enabled()},
                                 {"uploadMax", newUp},
                                 {"downloadMax", newDown}});
        return ExitOk;
    }
    TextTable table({"GLOBAL", "VALUE"});
    table.addRow({"bandwidth control", globals->enabled() ? "on" : "off"});
    table.addRow({"upload maximum", RateText::formatLimit(newUp)});
    table.addRow({"download maximum", RateText::formatLimit(newDown)});
    table.print(c.out);
    return ExitOk;
}

int RunReset(CtlContext& c)
{
    if (const int code = requireArgs(c, 0, "reset"))
        return code;
    Conversation conversation(c);
    int code = ExitOk;
    if (!conversation.ask(new BCI_BWCResetAll, &code))
        return code;
    if (c.json)
        printJson(c, QJsonObject{{"reset", true}});
    else
        c.out << "every application setting, the defaults and the globals are back to the "
                 "factory settings\n";
    return ExitOk;
}

int RunDevices(CtlContext& c)
{
    if (const int code = requireArgs(c, 0, "devices"))
        return code;
    Conversation conversation(c);
    int code = ExitOk;
    auto* reply = conversation.ask(new BCI_EnumDevices, &code);
    if (!reply)
        return code;
    const auto kind = [](qint32 id) {
        return id == -253 ? QStringLiteral("wireless")
                          : (id == -254 ? QStringLiteral("wired") : QStringLiteral("other"));
    };
    QJsonArray list;
    TextTable table({"NUMBER", "CODE", "KIND", "NAME", "PORT"});
    table.alignRight(0);
    table.alignRight(1);
    for (const DeviceInfoPtr& device : reply->devices()) {
        const qint32 id = qint32(device->deviceId);
        QJsonArray flags;
        for (bool flag : std::as_const(device->flags))
            flags.append(flag);
        list.append(QJsonObject{{"number", qint64(device->number)},
                                {"deviceId", id},
                                {"kind", kind(id)},
                                {"textA", device->textA},
                                {"textB", device->textB},
                                {"flags", flags}});
        table.addRow({QString::number(device->number), QString::number(id), kind(id), device->textA,
                      device->textB});
    }
    if (c.json)
        printJson(c, list);
    else
        table.print(c.out);
    return ExitOk;
}
