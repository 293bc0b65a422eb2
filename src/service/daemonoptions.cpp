#include "daemonoptions.h"

#include <QCommandLineParser>

namespace {

bool toNumber(const QString& text, quint64 low, quint64 high, quint64* out)
{
    bool ok = false;
    const quint64 value = text.toULongLong(&ok, 10);
    if (!ok || value < low || value > high)
        return false;
    *out = value;
    return true;
}

} // namespace

bool DaemonOptions::parse(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("N"));
    const QCommandLineOption backendOption(QStringLiteral("backend"), QString(),
                                           QStringLiteral("NAME"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QString(), QStringLiteral("N"));
    const QCommandLineOption stateOption(QStringLiteral("state"), QString(),
                                         QStringLiteral("FILE"));
    const QCommandLineOption appsOption(QStringLiteral("apps"), QString(), QStringLiteral("N"));
    const QCommandLineOption speedOption(QStringLiteral("speed"), QString(), QStringLiteral("N"));
    const QCommandLineOption wirelessOption(QStringLiteral("wireless"));
    const QCommandLineOption groupOption(QStringLiteral("control-group"), QString(),
                                         QStringLiteral("NAME"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({portOption, backendOption, seedOption, stateOption, appsOption,
                       speedOption, wirelessOption, groupOption, verboseOption, helpOption});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error =
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return false;
    }
    quint64 number = 0;
    if (parser.isSet(portOption)) {
        if (!toNumber(parser.value(portOption), 1, 65535, &number)) {
            *error = QStringLiteral("--port wants a port number from 1 to 65535, not \"%1\"")
                         .arg(parser.value(portOption));
            return false;
        }
        port = quint16(number);
    }
    if (parser.isSet(backendOption)) {
        backend = parser.value(backendOption);
        if (backend != QLatin1String("simulated") && backend != QLatin1String("linux")) {
            *error =
                QStringLiteral("unknown backend \"%1\" (available: simulated, linux)").arg(backend);
            return false;
        }
    }
    if (parser.isSet(seedOption)) {
        if (!toNumber(parser.value(seedOption), 0, 0xFFFFFFFFu, &number)) {
            *error = QStringLiteral("--seed wants a number from 0 to 4294967295, not \"%1\"")
                         .arg(parser.value(seedOption));
            return false;
        }
        seed = quint32(number);
    }
    if (parser.isSet(appsOption)) {
        if (!toNumber(parser.value(appsOption), 1, MaxApps, &number)) {
            *error = QStringLiteral("--apps wants a count from 1 to %1, not \"%2\"")
                         .arg(MaxApps)
                         .arg(parser.value(appsOption));
            return false;
        }
        appCount = int(number);
    }
    if (parser.isSet(speedOption)) {
        if (!toNumber(parser.value(speedOption), 1, MaxSpeed, &number)) {
            *error = QStringLiteral("--speed wants a factor from 1 to %1, not \"%2\"")
                         .arg(MaxSpeed)
                         .arg(parser.value(speedOption));
            return false;
        }
        speed = int(number);
    }
    if (parser.isSet(stateOption)) {
        statePath = parser.value(stateOption);
        if (statePath.isEmpty()) {
            *error = QStringLiteral("--state wants a file name");
            return false;
        }
    }
    if (parser.isSet(groupOption)) {
        controlGroup = parser.value(groupOption);
        if (controlGroup.isEmpty()) {
            *error = QStringLiteral("--control-group wants a group name");
            return false;
        }
    }
    wireless = parser.isSet(wirelessOption);
    verbose = parser.isSet(verboseOption);
    help = parser.isSet(helpOption);
    return true;
}

QString DaemonOptions::usage()
{
    return QStringLiteral(
        "usage: bwcd [--port N] [--backend simulated|linux] [--seed N] [--apps N] [--state FILE]\n"
        "            [--speed N] [--wireless] [--control-group NAME] [--verbose]\n"
        "\n"
        "The bandwidth-control service. Listens on 127.0.0.1 and answers the\n"
        "Applications module and bwcctl until SIGINT or SIGTERM.\n"
        "\n"
        "  --port N        TCP port (default: BWC_PORT, else 7789)\n"
        "  --backend NAME  where applications and traffic come from: simulated (default),\n"
        "                  or linux, the programs and traffic of this machine (needs root)\n"
        "  --seed N        the simulated machine's seed (default: 1)\n"
        "  --apps N        number of simulated applications, 1 to 5000 (default: 30)\n"
        "  --speed N       the simulated machine's clock runs N times as fast, 1 to 3600\n"
        "                  (default: 1), so that applications start and stop more often\n"
        "  --state FILE    state file (default: state.json in the user's data folder)\n"
        "  --wireless      the simulated machine also has a wireless device\n"
        "  --control-group NAME  who besides root may change settings (default: bwcontrol)\n"
        "  --verbose       log debug messages\n");
}
