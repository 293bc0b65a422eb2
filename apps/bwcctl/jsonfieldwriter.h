#pragma once

#include "commands.h"
#include "jsonwriter.h"

#include <QBuffer>

// Writes the fields it visits as JSON members: integers with their own
// signedness, null strings as null, records as objects, pictures as
// {"width","height","png"}.
class JsonFieldWriter final : public FieldVisitor
{
public:
    explicit JsonFieldWriter(JsonWriter& writer) : w(writer) {}

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
