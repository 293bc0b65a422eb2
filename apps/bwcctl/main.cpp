// bwcctl: a command-line client of the bandwidth-control service.

#include "headlessgui.h"
#include "ratetext.h"
#include "serviceport.h"
#include "verbs.h"

#include <QGuiApplication>

namespace {

void printUsage(QTextStream& stream)
{
    stream << "usage: bwcctl [--port N] [--timeout MS] [--json] VERB [ARGS]\n\n"
              "The options may also follow the verb.\n\nverbs:\n";
    for (const Verb& verb : AllVerbs())
        stream << "  " << verb.usage << '\n';
    stream << "\nThe service port is --port, else the environment variable "
           << ServicePort::EnvironmentVariable << ", else " << ServicePort::Default << ".\n";
    stream << '\n' << RateText::grammar();
    stream.flush();
}

enum class Taken
{
    No,    // not one of the options every verb shares
    Yes,   // taken, with its value
    Help,  // --help
    Error, // taken, but its value is wrong (already said)
};

// Takes the shared option at args[*at] (and its value, "--port 7789" or
// "--port=7789"), advancing *at past what it used.
Taken takeSharedOption(const QStringList& args, qsizetype* at, CtlContext& context)
{
    QString option = args.at(*at);
    QString value;
    const qsizetype equals = option.indexOf(QLatin1Char('='));
    const bool inlineValue = equals >= 0;
    if (inlineValue) {
        value = option.mid(equals + 1);
        option.truncate(equals);
    }
    if (option == QLatin1String("--help") && !inlineValue) {
        ++*at;
        return Taken::Help;
    }
    if (option == QLatin1String("--json") && !inlineValue) {
        context.json = true;
        ++*at;
        return Taken::Yes;
    }
    const bool port = option == QLatin1String("--port");
    if (!port && option != QLatin1String("--timeout"))
        return Taken::No;
    ++*at;
    if (!inlineValue && *at < args.size())
        value = args.at((*at)++);
    bool ok = false;
    const int number = value.toInt(&ok);
    if (port) {
        if (!ok || number < 1 || number > 65535) {
            context.err << "bwcctl: --port needs a port number from 1 to 65535" << Qt::endl;
            return Taken::Error;
        }
        context.port = quint16(number);
    } else {
        if (!ok || number < 1) {
            context.err << "bwcctl: --timeout needs a positive number of milliseconds" << Qt::endl;
            return Taken::Error;
        }
        context.timeoutMs = number;
    }
    return Taken::Yes;
}

} // namespace

int main(int argc, char* argv[])
{
    HeadlessGui::prepare();
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    const QStringList all = app.arguments().mid(1);
    CtlContext context{{}, out, err};
    context.port = 0;
    // People put the shared options before the verb or after it; before it,
    // any other option is a mistake, after it, it is the verb's own.
    QStringList args;
    bool verbSeen = false;
    for (qsizetype at = 0; at < all.size();) {
        switch (takeSharedOption(all, &at, context)) {
        case Taken::Yes:
            continue;
        case Taken::Help:
            printUsage(out);
            return ExitOk;
        case Taken::Error:
            return ExitUsage;
        case Taken::No:
            break;
        }
        const QString& arg = all.at(at++);
        if (!verbSeen && arg.startsWith(QLatin1String("--"))) {
            err << "bwcctl: unknown option " << arg << '\n';
            printUsage(err);
            return ExitUsage;
        }
        verbSeen = true;
        args.append(arg);
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
