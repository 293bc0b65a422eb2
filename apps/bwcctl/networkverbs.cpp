// Network verbs: one command to the service and its reply, or the service's
// broadcasts as they come, each printed as the JSON line that decode prints.

#include "commandjson.h"
#include "commandnames.h"
#include "framecodec.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "serviceport.h"
#include "servicesession.h"
#include "verbs.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QLoggingCategory>

#include <limits>

namespace {

// The command that encode would write: NAME, the payload fields in JSON, and
// the device selector. Gives null after telling why.
BaseCommandPtr buildCommand(CtlContext& c, const ParsedArgs& a)
{
    const QString name = a.positional.at(0);
    QString problem;
    BaseCommandPtr command = CommandJson::build(
        name, a.positional.size() == 2 ? &a.positional.at(1) : nullptr, &problem);
    if (!command) {
        if (problem.isEmpty())
            c.err << "bwcctl send: unknown command \"" << name
                  << "\" (the catalogue's names, such as BWCGetGlobals)" << Qt::endl;
        else
            c.err << "bwcctl send: " << name << ": " << problem << Qt::endl;
        return {};
    }
    if (command->IsProtocolCommand()) {
        c.err << "bwcctl send: " << name << " belongs to the transport's own handshake" << Qt::endl;
        return {};
    }
    if (a.values.contains(QStringLiteral("device"))) {
        bool ok = false;
        const qint64 device = a.values.value(QStringLiteral("device")).toLongLong(&ok, 0);
        if (!ok || device < std::numeric_limits<qint32>::min() ||
            device > std::numeric_limits<qint32>::max()) {
            c.err << "bwcctl send: --device needs a 32-bit signed integer" << Qt::endl;
            return {};
        }
        command->SetDevice(qint32(device));
    }
    // Refused here rather than by the transport, which could only say so later.
    QByteArray frame;
    if (const int result = FrameCodec::encode(command.data(), &frame)) {
        c.err << "bwcctl send: the writer refused " << name << ": " << result << ' '
              << StatusName(result) << " (a record field set to null?)" << Qt::endl;
        return {};
    }
    return command;
}

} // namespace

int RunSend(CtlContext& c)
{
    const ParsedArgs a = ParseVerbArgs(c.args, {QStringLiteral("device")});
    if (!a.error.isEmpty()) {
        c.err << "bwcctl send: " << a.error << Qt::endl;
        return ExitUsage;
    }
    if (a.positional.isEmpty() || a.positional.size() > 2) {
        c.err << "usage: bwcctl send NAME [JSON] [--device N]" << Qt::endl;
        return ExitUsage;
    }
    const BaseCommandPtr command = buildCommand(c, a);
    if (!command)
        return ExitUsage;

    ServiceSession session(c.port, c.timeoutMs);
    QString error;
    bool timedOut = false;
    const BaseCommandPtr reply = session.ask(command, &error, &timedOut);
    if (!reply) {
        c.err << "bwcctl send: " << error << Qt::endl;
        return timedOut ? ExitTimeout : ExitFailure;
    }
    // Whatever its status: the service answered.
    c.out << CommandJson::toJson(*reply) << Qt::endl;
    return ExitOk;
}

int RunWatch(CtlContext& c)
{
    const ParsedArgs a = ParseVerbArgs(c.args, {QStringLiteral("count")});
    if (!a.error.isEmpty() || !a.positional.isEmpty()) {
        c.err << "usage: bwcctl watch [--count K]" << Qt::endl;
        return ExitUsage;
    }
    int count = 0;
    if (a.values.contains(QStringLiteral("count"))) {
        bool ok = false;
        count = a.values.value(QStringLiteral("count")).toInt(&ok);
        if (!ok || count < 1) {
            c.err << "bwcctl watch: --count needs a positive number" << Qt::endl;
            return ExitUsage;
        }
    }

    // The transport's debug chatter is for developers, not for our output.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    qputenv(ServicePort::EnvironmentVariable, QByteArray::number(c.port));
    ServiceIO* client = CreateServiceIO(false, nullptr);
    if (!client) {
        c.err << "bwcctl watch: cannot start the transport client" << Qt::endl;
        return ExitFailure;
    }
    client->SetName("bwcctl watch");

    // Lives in this thread, so the lines are printed here, in arrival order.
    QObject printer;
    int printed = 0;
    QObject::connect(client, &ServiceIO::NewBroadcastReceived, &printer,
                     [&](BaseCommandPtr command) {
                         if (client->RetrieveCommand(&command) != 0 || !command)
                             return;
                         if (count > 0 && printed >= count)
                             return;
                         c.out << CommandJson::toJson(*command) << Qt::endl;
                         if (count > 0 && ++printed >= count)
                             QCoreApplication::quit();
                     });
    // Nothing is asked, so any reply is stray; it is only taken off the queue.
    QObject::connect(client, &ServiceIO::NewCommandReceived, &printer,
                     [client](BaseCommandPtr command) { client->RetrieveCommand(&command); });
    QCoreApplication::exec();
    client->Release();
    return ExitOk;
}
