#include "bwcentry.h"

#include "fieldvisitor.h"
#include "wireio.h"

void BWCEntry::VisitFields(FieldVisitor& v)
{
    v.field("id", id);
    v.field("idList", idList);
    v.field("gid", gid);
    v.field("shortListA", shortListA);
    v.field("shortListB", shortListB);
    v.field("uploadMax", uploadMax);
    v.field("downloadMax", downloadMax);
    v.field("priority", priority);
    v.field("extra", extra);
    v.field("path", path);
    v.field("highest", highest);
}

namespace WireIO {

// Peers depend on this exact order, the repeated extra and path included.
void write(QDataStream& s, const BWCEntryPtr& e)
{
    if (!e) {
        s.setStatus(QDataStream::WriteFailed);
        return;
    }
    write(s, e->id);
    write(s, e->idList);
    write(s, e->gid);
    write(s, e->shortListA);
    write(s, e->shortListB);
    write(s, e->uploadMax);
    write(s, e->downloadMax);
    write(s, e->priority);
    write(s, e->extra);
    write(s, e->path);
    write(s, e->extra);
    write(s, e->highest);
    write(s, e->path);
}

void read(QDataStream& s, BWCEntryPtr& out)
{
    out = BWCEntryPtr(new BWCEntry);
    BWCEntry& e = *out;
    read(s, e.id);
    read(s, e.idList);
    read(s, e.gid);
    read(s, e.shortListA);
    read(s, e.shortListB);
    read(s, e.uploadMax);
    read(s, e.downloadMax);
    read(s, e.priority);
    read(s, e.extra);
    read(s, e.path);
    read(s, e.extra);
    read(s, e.highest);
    read(s, e.path);
}

} // namespace WireIO
