#include "bwctotalsentry.h"

#include "fieldvisitor.h"
#include "wireio.h"

void BWCTotalsEntry::VisitFields(FieldVisitor& v)
{
    VisitMembers([&v](const char* name, auto& member) { v.field(name, member); });
}

namespace WireIO {

void write(QDataStream& s, const BWCTotalsEntryPtr& e)
{
    if (!e) {
        s.setStatus(QDataStream::WriteFailed);
        return;
    }
    e->VisitMembers([&s](const char*, auto& member) { write(s, member); });
}

void read(QDataStream& s, BWCTotalsEntryPtr& out)
{
    out = BWCTotalsEntryPtr(new BWCTotalsEntry);
    out->VisitMembers([&s](const char*, auto& member) { read(s, member); });
}

} // namespace WireIO
