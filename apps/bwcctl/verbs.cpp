#include "verbs.h"

const QList<Verb>& AllVerbs()
{
    static const QList<Verb> verbs = {
        {"encode", "encode NAME [JSON] [--sequence N] [--status N] [--device N]", RunEncode},
        {"decode", "decode [HEX]            (hex from the argument or standard input)", RunDecode},
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
