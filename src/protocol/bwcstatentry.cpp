#include "bwcstatentry.h"

#include "fieldvisitor.h"
#include "wireio.h"

void BWCStatEntry::VisitFields(FieldVisitor& v)
{
    v.field("id", id);
    v.field("sentRate", sentRate);
    v.field("receivedRate", receivedRate);
    v.field("isTotal", isTotal);
}

namespace WireIO {

void write(QDataStream& s, const BWCStatEntryPtr& e)
{
    if (!e) {
        s.setStatus(QDataStream::WriteFailed);
        return;
    }
    write(s, e->id);
    write(s, e->sentRate);
    write(s, e->receivedRate);
    write(s, e->isTotal);
}

void read(QDataStream& s, BWCStatEntryPtr& out)
{
    out = BWCStatEntryPtr(new BWCStatEntry);
    read(s, out->id);
    read(s, out->sentRate);
    read(s, out->receivedRate);
    read(s, out->isTotal);
}

} // namespace WireIO
