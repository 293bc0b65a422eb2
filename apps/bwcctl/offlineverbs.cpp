#include "commandjson.h"
#include "commandnames.h"
#include "framecodec.h"
#include "verbs.h"

#include <QFile>
#include <QJsonObject>

#include <limits>

namespace {

bool parseHeaderNumber(const QString& text, qint64 min, qint64 max, qint64* out)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 0);
    if (!ok || value < min || value > max)
        return false;
    *out = value;
    return true;
}

} // namespace

int RunEncode(CtlContext& c)
{
    const ParsedArgs a = ParseVerbArgs(
        c.args, {QStringLiteral("sequence"), QStringLiteral("status"), QStringLiteral("device")});
    if (!a.error.isEmpty()) {
        c.err << "bwcctl encode: " << a.error << Qt::endl;
        return ExitUsage;
    }
    if (a.positional.isEmpty() || a.positional.size() > 2) {
        c.err << "usage: bwcctl encode NAME [JSON] [--sequence N] [--status N] [--device N]"
              << Qt::endl;
        return ExitUsage;
    }
    const QString name = a.positional.at(0);
    QString problem;
    const BaseCommandPtr command = CommandJson::build(
        name, a.positional.size() == 2 ? &a.positional.at(1) : nullptr, &problem);
    if (!command) {
        if (problem.isEmpty())
            c.err << "bwcctl encode: unknown command \"" << name
                  << "\" (the catalogue's names, such as BWCGetGlobals)" << Qt::endl;
        else
            c.err << "bwcctl encode: " << name << ": " << problem << Qt::endl;
        return ExitUsage;
    }
    struct HeaderOption
    {
        const char* name;
        qint64 min, max;
        void (*apply)(BaseCommand&, qint64);
    };
    const HeaderOption headerOptions[] = {
        {"sequence", 0, std::numeric_limits<quint32>::max(),
         [](BaseCommand& cmd, qint64 v) { cmd.SetSequence(quint32(v)); }},
        {"status", std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
         [](BaseCommand& cmd, qint64 v) { cmd.SetStatus(qint32(v)); }},
        {"device", std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
         [](BaseCommand& cmd, qint64 v) { cmd.SetDevice(qint32(v)); }},
    };
    for (const HeaderOption& option : headerOptions) {
        const QString key = QString::fromLatin1(option.name);
        if (!a.values.contains(key))
            continue;
        qint64 value = 0;
        if (!parseHeaderNumber(a.values.value(key), option.min, option.max, &value)) {
            c.err << "bwcctl encode: --" << key << " needs an integer from " << option.min << " to "
                  << option.max << Qt::endl;
            return ExitUsage;
        }
        option.apply(*command, value);
    }
    QByteArray frame;
    if (const int result = FrameCodec::encode(command.data(), &frame)) {
        c.err << "bwcctl encode: the writer refused the command: " << result << ' '
              << StatusName(result) << " (a record field set to null?)" << Qt::endl;
        return ExitUsage;
    }
    if (frame.size() > qsizetype(BaseCommand::MaxFrameLength))
        c.err << "bwcctl encode: warning: the frame (" << frame.size()
              << " bytes) is longer than a reader accepts" << Qt::endl;
    c.out << frame.toHex() << Qt::endl;
    return ExitOk;
}

int RunDecode(CtlContext& c)
{
    if (c.args.size() > 1) {
        c.err << "usage: bwcctl decode [HEX]" << Qt::endl;
        return ExitUsage;
    }
    QByteArray text;
    if (c.args.size() == 1) {
        text = c.args.at(0).toLatin1();
    } else {
        QFile input;
        if (!input.open(stdin, QIODevice::ReadOnly)) {
            c.err << "bwcctl decode: cannot read standard input" << Qt::endl;
            return ExitUsage;
        }
        text = input.readAll();
    }
    QByteArray hex;
    hex.reserve(text.size());
    for (char ch : std::as_const(text)) {
        if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(ch))) {
            c.err << "bwcctl decode: not a hexadecimal digit: '" << QChar::fromLatin1(ch) << "'"
                  << Qt::endl;
            return ExitUsage;
        }
        hex.append(ch);
    }
    if (hex.size() % 2 != 0) {
        c.err << "bwcctl decode: odd number of hexadecimal digits" << Qt::endl;
        return ExitUsage;
    }
    const QByteArray bytes = QByteArray::fromHex(hex);
    QByteArrayView rest(bytes);
    // Several frames in a row decode to one line each.
    do {
        BaseCommandPtr command;
        qint64 used = 0;
        const int result = FrameCodec::decode(rest, &command, &used);
        if (result != 0) {
            c.out.flush();
            const char* status = StatusName(result);
            c.err << "error " << result << ' ' << (status ? status : "UNKNOWN") << Qt::endl;
            return ExitRefused;
        }
        c.out << CommandJson::toJson(*command) << Qt::endl;
        rest = rest.sliced(used);
    } while (!rest.isEmpty());
    return ExitOk;
}
