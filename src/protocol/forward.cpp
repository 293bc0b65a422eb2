#include "forward.h"

#include "fieldvisitor.h"
#include "wireio.h"

void _Forward::VisitFields(FieldVisitor& v)
{
    v.field("int0", int0);
    v.field("int1", int1);
    v.field("int2", int2);
    v.field("int3", int3);
    v.field("str0", str0);
    v.field("str1", str1);
    v.field("str2", str2);
    v.field("str3", str3);
    v.field("flag", flag);
}

namespace WireIO {

void write(QDataStream& s, const ForwardPtr& e)
{
    if (!e) {
        s.setStatus(QDataStream::WriteFailed);
        return;
    }
    write(s, e->int0);
    write(s, e->int1);
    write(s, e->int2);
    write(s, e->int3);
    write(s, e->str0);
    write(s, e->str1);
    write(s, e->str2);
    write(s, e->str3);
    write(s, e->flag);
}

void read(QDataStream& s, ForwardPtr& out)
{
    out = ForwardPtr(new _Forward);
    read(s, out->int0);
    read(s, out->int1);
    read(s, out->int2);
    read(s, out->int3);
    read(s, out->str0);
    read(s, out->str1);
    read(s, out->str2);
    read(s, out->str3);
    read(s, out->flag);
}

} // namespace WireIO
