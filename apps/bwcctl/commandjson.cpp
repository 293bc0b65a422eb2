#include "commandjson.h"

#include "commands.h"
#include "jsonwriter.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <cstring>
#include <limits>

namespace {

// ----- commands to JSON -----

class JsonOut final : public FieldVisitor
{
public:
    explicit JsonOut(JsonWriter& writer) : w(writer) {}

#define BWC_OUT_SLOT(T)                                                                            \
    void field(const char* name, T& value) override                                                \
    {                                                                                              \
        w.key(name);                                                                               \
        put(value);                                                                                \
    }
    BWC_FIELD_TYPES(BWC_OUT_SLOT)
#undef BWC_OUT_SLOT

private:
    void put(bool v)
    {
        w.boolean(v);
    }
    void put(quint16 v)
    {
        w.unsignedInteger(v);
    }
    void put(quint32 v)
    {
        w.unsignedInteger(v);
    }
    void put(quint64 v)
    {
        w.unsignedInteger(v);
    }
    void put(qint32 v)
    {
        w.integer(v);
    }
    void put(qint64 v)
    {
        w.integer(v);
    }
    void put(double v)
    {
        w.number(v);
    }
    void put(const QString& v)
    {
        v.isNull() ? w.null() : w.string(v);
    }
    void put(const QUuid& v)
    {
        w.string(v.toString());
    }
    void put(const QPixmap& v)
    {
        if (v.isNull()) {
            w.null();
            return;
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        v.save(&buffer, "PNG");
        w.beginObject();
        w.key("width");
        w.integer(v.width());
        w.key("height");
        w.integer(v.height());
        w.key("png");
        w.string(QString::fromLatin1(png.toBase64()));
        w.endObject();
    }
    void put(Process& v)
    {
        w.beginObject();
        v.visitMembers([this](const char* name, auto& member) {
            w.key(name);
            put(member);
        });
        w.endObject();
    }
    template <class T> void put(QList<T>& list)
    {
        w.beginArray();
        for (T& element : list)
            put(element);
        w.endArray();
    }
    template <class R> void put(QExplicitlySharedDataPointer<R>& record)
    {
        if (!record) {
            w.null();
            return;
        }
        w.beginObject();
        record->VisitFields(*this);
        w.endObject();
    }

    JsonWriter& w;
};

// ----- JSON to commands -----

class JsonIn final : public FieldVisitor
{
public:
    JsonIn(const QJsonObject& object, const QString& path, QString& error)
        : m_object(object), m_path(path), m_error(error)
    {}

#define BWC_IN_SLOT(T)                                                                             \
    void field(const char* name, T& value) override                                                \
    {                                                                                              \
        take(name, value);                                                                         \
    }
    BWC_FIELD_TYPES(BWC_IN_SLOT)
#undef BWC_IN_SLOT

    // Names in the object that no field took.
    void checkUnknown()
    {
        if (!m_error.isEmpty())
            return;
        for (auto it = m_object.begin(); it != m_object.end(); ++it) {
            if (!m_seen.contains(it.key())) {
                m_error = QStringLiteral("unknown field \"%1\"").arg(qualified(it.key()));
                return;
            }
        }
    }

private:
    QString qualified(const QString& name) const
    {
        return m_path.isEmpty() ? name : m_path + QLatin1Char('.') + name;
    }

    template <class T> void take(const char* name, T& value)
    {
        const QString key = QString::fromLatin1(name);
        if (!m_error.isEmpty() || !m_object.contains(key))
            return;
        m_seen.insert(key);
        const QString where = qualified(key);
        const QString problem = get(m_object.value(key), value, where);
        if (!problem.isEmpty() && m_error.isEmpty())
            m_error =
                m_nestedError ? problem : QStringLiteral("field \"%1\": %2").arg(where, problem);
    }

    static QString integer(const QJsonValue& v, qint64 min, quint64 max, quint64& bits,
                           bool& negative)
    {
        const QString expected =
            QStringLiteral("expected an integer from %1 to %2").arg(min).arg(max);
        if (v.isString()) {
            bool ok = false;
            const QString text = v.toString().trimmed();
            if (text.startsWith(QLatin1Char('-'))) {
                const qint64 n = text.toLongLong(&ok);
                if (!ok || n < min)
                    return expected;
                negative = n < 0;
                bits = quint64(n);
                return {};
            }
            bits = text.toULongLong(&ok);
            return ok && bits <= max ? QString() : expected;
        }
        if (!v.isDouble())
            return expected;
        const double d = v.toDouble();
        if (d != std::floor(d) || d < double(min) || d > double(max))
            return expected;
        const qint64 exact = v.toInteger(std::numeric_limits<qint64>::min());
        if (exact != std::numeric_limits<qint64>::min() || d < 0) {
            negative = exact < 0;
            bits = quint64(exact);
        } else {
            bits = quint64(d);
        }
        return {};
    }

    template <class I> static QString getInteger(const QJsonValue& v, I& out)
    {
        quint64 bits = 0;
        bool negative = false;
        const QString problem = integer(v, qint64(std::numeric_limits<I>::min()),
                                        quint64(std::numeric_limits<I>::max()), bits, negative);
        if (problem.isEmpty())
            out = negative ? I(qint64(bits)) : I(bits);
        return problem;
    }

    static QString get(const QJsonValue& v, bool& out, const QString&)
    {
        if (!v.isBool())
            return QStringLiteral("expected true or false");
        out = v.toBool();
        return {};
    }
    static QString get(const QJsonValue& v, quint16& out, const QString&)
    {
        return getInteger(v, out);
    }
    static QString get(const QJsonValue& v, qint32& out, const QString&)
    {
        return getInteger(v, out);
    }
    static QString get(const QJsonValue& v, quint32& out, const QString&)
    {
        return getInteger(v, out);
    }
    static QString get(const QJsonValue& v, qint64& out, const QString&)
    {
        return getInteger(v, out);
    }
    static QString get(const QJsonValue& v, quint64& out, const QString&)
    {
        return getInteger(v, out);
    }
    static QString get(const QJsonValue& v, double& out, const QString&)
    {
        if (!v.isDouble())
            return QStringLiteral("expected a number");
        out = v.toDouble();
        return {};
    }
    static QString get(const QJsonValue& v, QString& out, const QString&)
    {
        if (v.isNull()) {
            out = QString();
            return {};
        }
        if (!v.isString())
            return QStringLiteral("expected a string or null");
        out = v.toString();
        if (out.isNull())
            out = QString(QLatin1String(""));
        return {};
    }
    static QString get(const QJsonValue& v, QUuid& out, const QString&)
    {
        const QString text = v.toString().trimmed();
        const QUuid uuid = QUuid::fromString(text);
        const bool isNullText =
            text == QUuid().toString() || text == QUuid().toString(QUuid::WithoutBraces);
        if (!v.isString() || (uuid.isNull() && !isNullText))
            return QStringLiteral(
                "expected a UUID such as \"{00000000-0000-0000-0000-000000000000}\"");
        out = uuid;
        return {};
    }
    static QString get(const QJsonValue& v, QPixmap& out, const QString&)
    {
        if (v.isNull()) {
            out = QPixmap();
            return {};
        }
        const QJsonValue png = v.toObject().value(QLatin1String("png"));
        if (!v.isObject() || !png.isString())
            return QStringLiteral("expected null or an object with a base64 \"png\"");
        QPixmap pixmap;
        if (!pixmap.loadFromData(QByteArray::fromBase64(png.toString().toLatin1()), "PNG"))
            return QStringLiteral("\"png\" is not a PNG image");
        out = pixmap;
        return {};
    }
    QString get(const QJsonValue& v, Process& out, const QString& where)
    {
        if (!v.isObject())
            return QStringLiteral("expected an object");
        const QJsonObject object = v.toObject();
        QSet<QString> seen;
        QString problem;
        out.visitMembers([&](const char* name, auto& member) {
            const QString key = QString::fromLatin1(name);
            if (!problem.isEmpty() || !object.contains(key))
                return;
            seen.insert(key);
            const QString p = get(object.value(key), member, where);
            if (!p.isEmpty())
                problem = QStringLiteral("member \"%1\": %2").arg(key, p);
        });
        for (auto it = object.begin(); problem.isEmpty() && it != object.end(); ++it) {
            if (!seen.contains(it.key()))
                problem = QStringLiteral("unknown member \"%1\"").arg(it.key());
        }
        return problem;
    }
    template <class T> QString get(const QJsonValue& v, QList<T>& out, const QString& where)
    {
        if (!v.isArray())
            return QStringLiteral("expected an array");
        QList<T> list;
        const QJsonArray array = v.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            T element{};
            const QString p = get(array.at(i), element, QStringLiteral("%1[%2]").arg(where).arg(i));
            if (!p.isEmpty())
                return m_nestedError ? p : QStringLiteral("element %1: %2").arg(i).arg(p);
            list.append(element);
        }
        out = list;
        return {};
    }
    template <class R>
    QString get(const QJsonValue& v, QExplicitlySharedDataPointer<R>& out, const QString& where)
    {
        if (v.isNull()) {
            out.reset();
            return {};
        }
        if (!v.isObject())
            return QStringLiteral("expected an object or null");
        QExplicitlySharedDataPointer<R> record(new R);
        QString error;
        JsonIn nested(v.toObject(), where, error);
        record->VisitFields(nested);
        nested.checkUnknown();
        if (!error.isEmpty()) {
            m_nestedError = true;
            return error;
        }
        out = record;
        return {};
    }

    const QJsonObject m_object;
    const QString m_path;
    QString& m_error;
    QSet<QString> m_seen;
    bool m_nestedError = false;
};

} // namespace

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
    JsonOut out(w);
    command.VisitFields(out);
    w.endObject();
    w.endObject();
    return w.text();
}

QString applyFields(BaseCommand& command, const QJsonObject& fields)
{
    QString error;
    JsonIn in(fields, QString(), error);
    command.VisitFields(in);
    in.checkUnknown();
    return error;
}

} // namespace CommandJson
