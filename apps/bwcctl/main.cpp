// bwcctl: a command-line client of the bandwidth-control service.

#include "headlessgui.h"
#include "ratetext.h"
#include "serviceport.h"
#include "verbs.h"

#include <QGuiApplication>

namespace {

void printUsage(QTextStream& stream)
{
    stream << "usage: bwcctl [--port N] [--timeout MS] [--json] VERB [ARGS]\n\nverbs:\n";
    for (const Verb& verb : AllVerbs())
        stream << "  " << verb.usage << '\n';
    stream << "\nThe service port is --port, else the environment variable "
           << ServicePort::EnvironmentVariable << ", else " << ServicePort::Default << ".\n";
    stream << '\n' << RateText::grammar();
    stream.flush();
}

} // namespace

int main(int argc, char* argv[])
{
    HeadlessGui::prepare();
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList args = app.arguments().mid(1);
    CtlContext context{{}, out, err};
    context.port = 0;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--help")) {
            printUsage(out);
            return ExitOk;
        }
        if (option == QLatin1String("--json")) {
            context.json = true;
            continue;
        }
        if (option != QLatin1String("--port") && option != QLatin1String("--timeout")) {
            err << "bwcctl: unknown option " << option << '\n';
            printUsage(err);
            return ExitUsage;
        }
        bool ok = false;
        const int value = args.isEmpty() ? 0 : args.takeFirst().toInt(&ok);
        if (option == QLatin1String("--port")) {
            if (!ok || value < 1 || value > 65535) {
                err << "bwcctl: --port needs a port number from 1 to 65535" << Qt::endl;
                return ExitUsage;
            }
            context.port = quint16(value);
        } else {
            if (!ok || value < 1) {
                err << "bwcctl: --timeout needs a positive number of milliseconds" << Qt::endl;
                return ExitUsage;
            }
            context.timeoutMs = value;
        }
    }
    if (args.isEmpty()) {
        printUsage(err);
        return ExitUsage;
    }
    if (context.port == 0)
        context.port = ServicePort::fromEnvironment();

    const QString verbName = args.takeFirst();
    for (const Verb& verb : AllVerbs()) {
        if (verbName == QLatin1String(verb.name)) {
            context.args = args;
            return verb.run(context);
        }
    }
    err << "bwcctl: unknown verb \"" << verbName << "\"\n";
    printUsage(err);
    return ExitUsage;
}
