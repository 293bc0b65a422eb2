#include "verbs.h"

const QList<Verb>& AllVerbs()
{
    static const QList<Verb> verbs = {
        {"encode", "encode NAME [JSON] [--sequence N] [--status N] [--device N]", RunEncode},
        {"decode", "decode [HEX]            (hex from the argument or standard input)", RunDecode},
        {"send", "send NAME [JSON] [--device N]  send one command, print the reply as decode does",
         RunSend},
        {"watch", "watch [--count K]       print the service's broadcasts as they arrive",
         RunWatch},
        {"apps", "apps                    applications, their state, limits and priority", RunApps},
        {"stats",
         "stats                   rates and bytes moved (network and local) per application",
         RunStats},
        {"reset-totals", "reset-totals            totals since reset start again from 0",
         RunResetTotals},
        {"limit", "limit APP up|down RATE  cap an application's upload or download", RunLimit},
        {"block", "block APP               block an application", RunBlock},
        {"allow", "allow APP               lift a block (the default limits apply)", RunAllow},
        {"priority", "priority APP 1..4       1 highest, 2 high, 3 normal, 4 low", RunPriority},
        {"enable", "enable                  switch bandwidth control on", RunEnable},
        {"disable", "disable                 switch bandwidth control off", RunDisable},
        {"defaults", "defaults [--up RATE] [--down RATE] [--priority 2..4] [--block|--allow]",
         RunDefaults},
        {"globals", "globals [--up RATE] [--down RATE]  show or set the global maxima", RunGlobals},
        {"reset", "reset                   reset every setting to the factory state", RunReset},
        {"devices", "devices                 network devices the service knows", RunDevices},
    };
    return verbs;
}

ParsedArgs ParseVerbArgs(const QStringList& args, const QSet<QString>& valueOptions,
                         const QSet<QString>& flagOptions)
{
    ParsedArgs parsed;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!arg.startsWith(QLatin1String("--")) || arg.size() == 2) {
            parsed.positional.append(arg);
            continue;
        }
        QString name = arg.mid(2);
        QString value;
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const bool inlineValue = equals >= 0;
        if (inlineValue) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (flagOptions.contains(name) && !inlineValue) {
            parsed.flags.insert(name);
        } else if (valueOptions.contains(name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    parsed.error = QStringLiteral("option --%1 needs a value").arg(name);
                    return parsed;
                }
                value = args.at(++i);
            }
            parsed.values.insert(name, value);
        } else {
            parsed.error = QStringLiteral("unknown option --%1").arg(name);
            return parsed;
        }
    }
    return parsed;
}
