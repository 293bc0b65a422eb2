#include "jsonwriter.h"

#include <QLocale>

#include <cmath>

void JsonWriter::separate()
{
    if (m_needComma)
        m_text += QLatin1Char(',');
    m_needComma = true;
}

void JsonWriter::beginObject()
{
    separate();
    m_text += QLatin1Char('{');
    m_needComma = false;
}

void JsonWriter::endObject()
{
    m_text += QLatin1Char('}');
    m_needComma = true;
}

void JsonWriter::beginArray()
{
    separate();
    m_text += QLatin1Char('[');
    m_needComma = false;
}

void JsonWriter::endArray()
{
    m_text += QLatin1Char(']');
    m_needComma = true;
}

void JsonWriter::key(const char* name)
{
    string(QString::fromLatin1(name));
    m_text += QLatin1Char(':');
    m_needComma = false;
}

void JsonWriter::null()
{
    separate();
    m_text += QLatin1String("null");
}

void JsonWriter::boolean(bool value)
{
    separate();
    m_text += value ? QLatin1String("true") : QLatin1String("false");
}

void JsonWriter::integer(qint64 value)
{
    separate();
    m_text += QString::number(value);
}

void JsonWriter::unsignedInteger(quint64 value)
{
    separate();
    m_text += QString::number(value);
}

void JsonWriter::number(double value)
{
    if (!std::isfinite(value)) {
        null();
        return;
    }
    separate();
    m_text += QString::number(value, 'g', QLocale::FloatingPointShortest);
}

void JsonWriter::string(const QString& value)
{
    separate();
    m_text += QLatin1Char('"');
    for (QChar c : value) {
        switch (c.unicode()) {
        case '"':
            m_text += QLatin1String("\\\"");
            break;
        case '\\':
            m_text += QLatin1String("\\\\");
            break;
        case '\b':
            m_text += QLatin1String("\\b");
            break;
        case '\f':
            m_text += QLatin1String("\\f");
            break;
        case '\n':
            m_text += QLatin1String("\\n");
            break;
        case '\r':
            m_text += QLatin1String("\\r");
            break;
        case '\t':
            m_text += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                m_text += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                m_text += c;
        }
    }
    m_text += QLatin1Char('"');
}
