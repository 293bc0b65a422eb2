#include "bwcstatcpuentry.h"

#include "fieldvisitor.h"
#include "wireio.h"

void BWCStatCpuEntry::VisitFields(FieldVisitor& v)
{
    VisitMembers([&v](const char* name, auto& member) { v.field(name, member); });
}

namespace WireIO {

void write(QDataStream& s, const BWCStatCpuEntryPtr& e)
{
    if (!e) {
        s.setStatus(QDataStream::WriteFailed);
        return;
    }
    e->VisitMembers([&s](const char*, auto& member) { write(s, member); });
}

void read(QDataStream& s, BWCStatCpuEntryPtr& out)
{
    out = BWCStatCpuEntryPtr(new BWCStatCpuEntry);
    out->VisitMembers([&s](const char*, auto& member) { read(s, member); });
}

} // namespace WireIO
