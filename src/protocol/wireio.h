#pragma once

#include "records.h"

#include <QDataStream>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QUuid>

class Process;

// Stream encodings of every field type, in Qt's stream format version 12.
// Readers never size a container from a count read off the wire: lists grow
// one element at a time and stop when the stream runs dry, so a hostile count
// costs no more memory than the bytes that back it.
namespace WireIO {

inline bool exhausted(const QDataStream& s)
{
    return s.atEnd() || s.status() != QDataStream::Ok;
}

inline void write(QDataStream& s, bool v)
{
    s << v;
}
inline void write(QDataStream& s, quint16 v)
{
    s << v;
}
inline void write(QDataStream& s, qint32 v)
{
    s << v;
}
inline void write(QDataStream& s, quint32 v)
{
    s << v;
}
inline void write(QDataStream& s, qint64 v)
{
    s << v;
}
inline void write(QDataStream& s, quint64 v)
{
    s << v;
}
inline void write(QDataStream& s, double v)
{
    s << v;
}
inline void write(QDataStream& s, const QString& v)
{
    s << v;
}
inline void write(QDataStream& s, const QUuid& v)
{
    s << v;
}
void write(QDataStream& s, const QPixmap& v);
void write(QDataStream& s, const Process& v);
void write(QDataStream& s, const BWCEntryPtr& v);
void write(QDataStream& s, const BWCStatEntryPtr& v);
void write(QDataStream& s, const BWCStatCpuEntryPtr& v);
void write(QDataStream& s, const BWCTotalsEntryPtr& v);
void write(QDataStream& s, const DeviceInfoPtr& v);
void write(QDataStream& s, const ForwardPtr& v);

template <class T> void write(QDataStream& s, const QList<T>& list)
{
    s << quint32(list.size());
    for (const T& element : list)
        write(s, element);
}

inline void read(QDataStream& s, bool& v)
{
    s >> v;
}
inline void read(QDataStream& s, quint16& v)
{
    s >> v;
}
inline void read(QDataStream& s, qint32& v)
{
    s >> v;
}
inline void read(QDataStream& s, quint32& v)
{
    s >> v;
}
inline void read(QDataStream& s, qint64& v)
{
    s >> v;
}
inline void read(QDataStream& s, quint64& v)
{
    s >> v;
}
inline void read(QDataStream& s, double& v)
{
    s >> v;
}
void read(QDataStream& s, QString& v);
void read(QDataStream& s, QUuid& v);
void read(QDataStream& s, QPixmap& v);
void read(QDataStream& s, Process& v);
void read(QDataStream& s, BWCEntryPtr& v);
void read(QDataStream& s, BWCStatEntryPtr& v);
void read(QDataStream& s, BWCStatCpuEntryPtr& v);
void read(QDataStream& s, BWCTotalsEntryPtr& v);
void read(QDataStream& s, DeviceInfoPtr& v);
void read(QDataStream& s, ForwardPtr& v);

// A list: cleared, then one element appended at a time; reading stops early
// when the stream ends after an element.
template <class T> void read(QDataStream& s, QList<T>& list)
{
    list.clear();
    quint32 count = 0;
    s >> count;
    if (s.status() != QDataStream::Ok)
        return;
    for (quint32 i = 0; i < count; ++i) {
        T element{};
        read(s, element);
        list.append(element);
        if (exhausted(s))
            break;
    }
}

// A vector of flags: sized to its count first, then filled. The size is capped
// by the bytes left, which is all a well-formed vector can use.
void read(QDataStream& s, QList<bool>& v);

} // namespace WireIO
