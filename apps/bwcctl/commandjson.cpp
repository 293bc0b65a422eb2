#include "commandjson.h"

#include "commandnames.h"
#include "jsonfieldreader.h"
#include "jsonfieldwriter.h"
#include "recordfiller.h"

#include <QJsonDocument>

#include <cstring>

namespace CommandJson {

namespace {

// Wraps unsigned integer literals that do not fit a qint64 in quotes; the
// integer readers accept decimal strings.
QByteArray quoteHugeIntegers(const QByteArray& json)
{
    QByteArray result;
    result.reserve(json.size());
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (inString) {
            result.append(c);
            if (c == '\\' && i + 1 < json.size())
                result.append(json.at(++i));
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
            result.append(c);
            continue;
        }
        const bool startsNumber = c >= '0' && c <= '9' && (i == 0 || json.at(i - 1) != '-');
        if (!startsNumber) {
            result.append(c);
            continue;
        }
        qsizetype end = i;
        while (end < json.size() && json.at(end) >= '0' && json.at(end) <= '9')
            ++end;
        const QByteArray digits = json.mid(i, end - i);
        const bool plainInteger = end >= json.size() || !strchr(".eE", json.at(end));
        bool fits = false;
        digits.toLongLong(&fits);
        if (plainInteger && !fits)
            result.append('"').append(digits).append('"');
        else
            result.append(digits);
        i = end - 1;
    }
    return result;
}

} // namespace

QString parseObject(const QString& text, QJsonObject* object)
{
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(quoteHugeIntegers(text.toUtf8()), &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("malformed JSON (%1 near offset %2)")
            .arg(error.errorString())
            .arg(error.offset);
    if (!document.isObject())
        return QStringLiteral("the payload must be a JSON object");
    *object = document.object();
    return {};
}

QString toJson(BaseCommand& command)
{
    JsonWriter w;
    w.beginObject();
    w.key("type");
    w.string(QString::fromLatin1(command.GetName()));
    w.key("typeId");
    w.unsignedInteger(command.GetType());
    w.key("sequence");
    w.unsignedInteger(command.GetSequence());
    w.key("status");
    w.integer(command.GetStatus());
    w.key("device");
    w.integer(command.GetDevice());
    w.key("payload");
    w.beginObject();
    JsonFieldWriter out(w);
    command.VisitFields(out);
    w.endObject();
    w.endObject();
    return w.text();
}

QString applyFields(BaseCommand& command, const QJsonObject& fields)
{
    QString error;
    JsonFieldReader in(fields, QString(), error);
    command.VisitFields(in);
    in.checkUnknown();
    return error;
}

BaseCommandPtr build(const QString& name, const QString* json, QString* error)
{
    error->clear();
    const quint32 type = CommandTypeByName(name.toLatin1().constData());
    if (type == 0)
        return {};
    BaseCommandPtr command = BaseCommand::GetCmd(int(type));
    RecordFiller filler;
    command->VisitFields(filler);
    if (!json)
        return command;
    QJsonObject fields;
    *error = parseObject(*json, &fields);
    if (error->isEmpty())
        *error = applyFields(*command, fields);
    return error->isEmpty() ? command : BaseCommandPtr();
}

} // namespace CommandJson
