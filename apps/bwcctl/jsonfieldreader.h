#pragma once

#include "commands.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <cmath>
#include <limits>

// Sets the fields it visits from the members of a JSON object of the same
// names; the first value of the wrong type or range leaves a message naming
// the field in the error string.
class JsonFieldReader final : public FieldVisitor
{
public:
    JsonFieldReader(const QJsonObject& object, const QString& path, QString& error)
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
        JsonFieldReader nested(v.toObject(), where, error);
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
