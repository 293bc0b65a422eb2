#include "process.h"

#include "safestream.h"

namespace {

struct Writer
{
    QDataStream& stream;
    void operator()(const char*, const QString& value) { stream << value; }
    void operator()(const char*, quint64 value) { stream << value; }
    void operator()(const char*, const QPixmap& value) { SafeStream::writePixmap(stream, value); }
};

struct Reader
{
    QDataStream& stream;
    void operator()(const char*, QString& value) { SafeStream::readString(stream, value); }
    void operator()(const char*, quint64& value) { stream >> value; }
    void operator()(const char*, QPixmap& value) { SafeStream::readPixmap(stream, value); }
};

} // namespace

QDataStream& operator<<(QDataStream& stream, const Process& process)
{
    process.visitMembers(Writer{stream});
    return stream;
}

QDataStream& operator>>(QDataStream& stream, Process& process)
{
    process.visitMembers(Reader{stream});
    return stream;
}
