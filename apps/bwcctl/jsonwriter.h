#pragma once

#include <QString>

// A compact JSON writer that keeps members in the order they are written, so
// a command prints its header first and its fields in wire order.
class JsonWriter
{
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(const char* name);
    void null();
    void boolean(bool value);
    void integer(qint64 value);
    void unsignedInteger(quint64 value);
    void number(double value);
    void string(const QString& value);

    const QString& text() const { return m_text; }

private:
    void separate();

    QString m_text;
    bool m_needComma = false;
};
