#include "wireio.h"

#include "process.h"
#include "safestream.h"

namespace WireIO {

void write(QDataStream& s, const QPixmap& v)
{
    SafeStream::writePixmap(s, v);
}

void write(QDataStream& s, const Process& v)
{
    s << v;
}

void read(QDataStream& s, QString& v)
{
    SafeStream::readString(s, v);
}

void read(QDataStream& s, QUuid& v)
{
    s >> v;
}

void read(QDataStream& s, QPixmap& v)
{
    SafeStream::readPixmap(s, v);
}

void read(QDataStream& s, Process& v)
{
    s >> v;
}

void read(QDataStream& s, QList<bool>& v)
{
    v.clear();
    quint32 count = 0;
    s >> count;
    if (s.status() != QDataStream::Ok)
        return;
    const qint64 left = SafeStream::remaining(s);
    const qint64 size = qMin<qint64>(count, left);
    v.resize(size);
    for (qint64 i = 0; i < size; ++i)
        s >> v[i];
    if (qint64(count) > left)
        s.setStatus(QDataStream::ReadPastEnd);
}

} // namespace WireIO
